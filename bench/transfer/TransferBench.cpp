// Measures the package transfers of the download and update path, each beside a peer tool on
// the same files and servers in the same run:
//   download  the download step (requestDownload to its evaluated status) of a package served
//             by the project's release server on 127.0.0.1; peer: curl -o
//   md5       verification of that package, in a process of its own so that its peak memory
//             is its own; peer: md5sum
//   upload    the firmware upload the update step makes, of an image to the device simulator;
//             peer: curl -F
//   resume    a download of the package cut at 90% and requested again: the share of the
//             package the second request transfers; peer: curl -C - after the same cut
// and, for information, one whole firmware update of that image (upload, poll, reboot).
//
//     kv_transfer_bench [package MiB] [image MiB]      (default: 512 256)
//
// Times are the best of three runs; ratios are peer time / program time, so 1.0 is parity and
// more is faster. It prints figures and never fails.

#include "DeviceSimulator.h"
#include "FixedSettings.h"
#include "ReleaseServer.h"
#include "Result.h"
#include "TempDir.h"
#include "core/Core.h"
#include "kvcurl/kvcurl.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <string>
#include <vector>

extern char** environ;

using namespace kv::portal;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kRuns = 3;
constexpr const char* kPackage = "bench-package.bin";
constexpr const char* kImage = "bench-image.bin";

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Runs a program to its end with its output discarded; the seconds it took, or -1.
double timeProgram(std::vector<std::string> arguments) {
    std::vector<char*> argv;
    for (std::string& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    const auto start = Clock::now();
    pid_t pid = -1;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    if (spawned != 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0) {
        return -1;
    }
    return secondsSince(start);
}

std::string programOutput(const std::string& command) {
    std::string output;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[256];
        while (std::fgets(buffer, sizeof(buffer), pipe)) {
            output += buffer;
        }
        ::pclose(pipe);
    }
    return output;
}

void writeRandomFile(const std::string& path, long mebibytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    std::mt19937_64 random(42);
    std::vector<uint64_t> chunk((1 << 20) / sizeof(uint64_t));
    for (long i = 0; i < mebibytes; ++i) {
        std::generate(chunk.begin(), chunk.end(), random);
        out.write(reinterpret_cast<const char*>(chunk.data()),
                  static_cast<std::streamsize>(chunk.size() * sizeof(uint64_t)));
    }
}

// Runs a program to its end with its output discarded, whatever its exit status.
void runProgram(std::vector<std::string> arguments) {
    std::vector<char*> argv;
    for (std::string& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    pid_t pid = -1;
    int status = 0;
    if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) == 0) {
        ::waitpid(pid, &status, 0);
    }
}

// The body bytes the release server sent for the last request of the path.
double lastSent(const kv::test::ReleaseServer& server, const std::string& path) {
    const std::string log = kvcurl::get(server.url("/control/requests?path=" + path))->body;
    const auto at = log.rfind("\"sent\": ");
    return at == std::string::npos ? NAN : std::atof(log.c_str() + at + 8);
}

long peakKiB() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Counts the statuses a product reaches, and lets the bench wait for the next one.
class StatusWaiter : public Core::Listener {
public:
    StatusWaiter(std::string name, uint32_t status) : name_(std::move(name)), status_(status) {}

    void statusChanged(Core* core, const char* productName) override {
        const ProductPtr product = core->findProduct(productName);
        if (name_ == productName && product && product->status == status_) {
            std::lock_guard<std::mutex> lock(mutex_);
            ++reached_;
            changed_.notify_all();
        }
    }

    bool waitFor(int count) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::minutes(2), [&] { return reached_ >= count; });
    }

private:
    const std::string name_;
    const uint32_t status_;
    std::mutex mutex_;
    std::condition_variable changed_;
    int reached_ = 0;
};

ProductPtr addRelease(Core& core, ProductCode code, const std::string& name,
                      const std::string& address, const std::string& fileName,
                      const std::string& md5, const std::string& link) {
    core.addProduct(code, name, address, Version(1, 0, 0, 0));
    const ProductPtr product = core.findProduct(name);
    auto release = std::make_shared<Product::Cloud>();
    release->version = Version(2, 0, 0, 0);
    release->fileName = fileName;
    release->md5 = md5;
    release->link = link;
    product->cloud.set(release);
    return product;
}

void printRatio(const char* what, double program, double peer, const char* peerName, double mib) {
    std::printf("%-9s program %7.3f s (%7.1f MiB/s)   %-8s %7.3f s (%7.1f MiB/s)   ratio %.2f\n",
                what, program, mib / program, peerName, peer, mib / peer, peer / program);
}

// Throughputs in MiB/s; the ratio is the program's throughput over the peer's.
void printThroughput(const std::string& name, const std::string& label, double program, double peer,
                     const std::string& peerName, double mib) {
    const double ours = mib / kv::bench::measured(program);
    const double theirs = mib / kv::bench::measured(peer);
    kv::bench::printResult({name, label, ours, "MiB/s", peerName, theirs, ours / theirs,
                            "program / peer throughput", "ratio>=0.9"});
}

// The verification alone, in this process: prints seconds, peak growth in KiB and the outcome.
int verifyOnly(const char* fileName, const char* digest) {
    Core core;
    const ProductPtr product =
        addRelease(core, code::VESK_FIRMWARE, "Vesk", "", fileName, digest, "");
    const long before = peakKiB();
    const auto start = Clock::now();
    const bool verified = core.verifyDownload(product);
    const double seconds = secondsSince(start);
    std::printf("%f %ld %d\n", seconds, peakKiB() - before, verified ? 1 : 0);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "--verify-only") {
        return verifyOnly(argv[2], argv[3]);
    }
    const long packageMiB = argc > 1 ? std::atol(argv[1]) : 512;
    const long imageMiB = argc > 2 ? std::atol(argv[2]) : 256;

    kv::test::TempDir home;
    ::setenv("HOME", home.path().c_str(), 1);
    ::unsetenv("XDG_CONFIG_HOME");
    ::setenv("KVPORTAL_PROGRAM_FILES", home.file("Program Files").c_str(), 1);
    kv::test::TempDir served;
    writeRandomFile(served.file(kPackage), packageMiB);
    kv::test::DeviceSimulator::makeImage(home.file(kImage), "2.0.0b1", imageMiB << 20);
    kv::test::ReleaseServer server(served.path());
    const std::string link = server.url(std::string("/") + kPackage);

    Core core;
    core.setProxy(std::make_unique<kv::test::FixedSettings>());

    // Download.
    StatusWaiter downloaded("Vesk", ReadyToUpdate);
    core.addListener(&downloaded);
    const ProductPtr vesk = addRelease(core, code::VESK_FIRMWARE, "Vesk", "", kPackage, "", link);
    const std::string package = core.downloadPath(vesk, true);
    double download = 1e9;
    double curlDownload = 1e9;
    for (int run = 0; run < kRuns; ++run) {
        std::filesystem::remove(package);
        const auto start = Clock::now();
        core.requestDownload("Vesk");
        if (!downloaded.waitFor(run + 1)) {
            std::printf("download did not finish\n");
            return 0;
        }
        download = std::min(download, secondsSince(start));
        const double peer = timeProgram({"curl", "-s", "-o", home.file("curl.bin"), link});
        curlDownload = std::min(curlDownload, peer < 0 ? 1e9 : peer);
    }
    core.removeListener(&downloaded);
    std::filesystem::remove(home.file("curl.bin"));

    // Resume, each from its own name so that the server's log of it is its own.
    const std::string cut = "?close=body&at=90";
    std::filesystem::create_hard_link(served.file(kPackage), served.file("resume.bin"));
    std::filesystem::create_hard_link(served.file(kPackage), served.file("resume-curl.bin"));
    StatusWaiter cutOff("Resume", DownloadError);
    StatusWaiter resumed("Resume", ReadyToUpdate);
    core.addListener(&cutOff);
    core.addListener(&resumed);
    const ProductPtr resume = addRelease(core, code::VESK_FIRMWARE, "Resume", "", "resume.bin", "",
                                         server.url("/resume.bin" + cut));
    core.requestDownload("Resume");
    bool resumeDone = cutOff.waitFor(1);
    // The worker lets go of the product just after it shows the error.
    while (resumeDone && core.isDownloading()) {
    }
    auto whole = std::make_shared<Product::Cloud>(*resume->cloud.get());
    whole->link = server.url("/resume.bin");
    resume->cloud.set(whole);
    core.requestDownload("Resume");
    resumeDone = resumeDone && resumed.waitFor(1);
    core.removeListener(&cutOff);
    core.removeListener(&resumed);
    const double resumeShare =
        resumeDone ? lastSent(server, "/resume.bin") / static_cast<double>(packageMiB << 20) : NAN;
    runProgram(
        {"curl", "-s", "-o", home.file("resume-curl.bin"), server.url("/resume-curl.bin" + cut)});
    runProgram({"curl", "-s", "-C", "-", "-o", home.file("resume-curl.bin"),
                server.url("/resume-curl.bin")});
    const double curlShare =
        lastSent(server, "/resume-curl.bin") / static_cast<double>(packageMiB << 20);
    std::filesystem::remove(home.file("resume-curl.bin"));

    // MD5, each run in a fresh process.
    const std::string digest = programOutput("md5sum '" + package + "'").substr(0, 32);
    double md5 = 1e9;
    double md5sum = 1e9;
    long growthKiB = 0;
    bool verified = true;
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    for (int run = 0; run < kRuns; ++run) {
        double seconds = 0;
        long growth = 0;
        int ok = 0;
        const std::string line =
            programOutput("'" + self + "' --verify-only " + kPackage + " " + digest + " | tail -1");
        if (std::sscanf(line.c_str(), "%lf %ld %d", &seconds, &growth, &ok) == 3) {
            md5 = std::min(md5, seconds);
            growthKiB = std::max(growthKiB, growth);
            verified = verified && ok == 1;
        }
        const double peer = timeProgram({"md5sum", package});
        md5sum = std::min(md5sum, peer < 0 ? 1e9 : peer);
    }

    // Upload: the device answers as soon as it has the image, for both.
    kv::test::DeviceSimulator::Options options;
    options.behaviour = R"({"hold_ms": 0, "phase_ms": 0})";
    options.imageFile = home.file("received.bin");
    kv::test::DeviceSimulator device(options);
    const std::string uploadUrl = "http://" + device.address() + ":8080/commands/upload";
    double upload = 1e9;
    double curlUpload = 1e9;
    int32_t uploadResult = 0;
    for (int run = 0; run < kRuns; ++run) {
        const auto start = Clock::now();
        uploadResult |= kvcurl::upload(uploadUrl, "firmware.bin", home.file(kImage));
        upload = std::min(upload, secondsSince(start));
        const double peer = timeProgram(
            {"curl", "-s", "-H", "Expect:", "-F", "firmware.bin=@" + home.file(kImage), uploadUrl});
        curlUpload = std::min(curlUpload, peer < 0 ? 1e9 : peer);
    }

    // One whole firmware update, from a freshly started device that holds its answer until it
    // was polled.
    const char* const json[] = {"Content-Type: application/json"};
    device.configure(R"({"hold_ms": 10000, "reboot_down_ms": 0})");
    kvcurl::post("http://" + device.address() + ":8080/commands/reboot", json, 1, nullptr, 0);
    // Its services come back at once.
    while (device.state()["down"].GetBool()) {
    }
    StatusWaiter rebooting("Korvex", DeviceRebooting);
    core.addListener(&rebooting);
    const ProductPtr korvex =
        addRelease(core, code::KORVEX_FIRMWARE, "Korvex", device.address(), kImage, "", "");
    std::filesystem::copy_file(home.file(kImage), core.downloadPath(korvex, true));
    const auto updateStart = Clock::now();
    core.requestUpdate(korvex);
    const bool updated = rebooting.waitFor(1);
    const double update = secondsSince(updateStart);
    core.removeListener(&rebooting);

    std::printf("\n== transfer benchmark: package %ld MiB, image %ld MiB, best of %d ==\n",
                packageMiB, imageMiB, kRuns);
    printRatio("download", download, curlDownload, "curl -o", static_cast<double>(packageMiB));
    printRatio("md5", md5, md5sum, "md5sum", static_cast<double>(packageMiB));
    std::printf("resume    program transferred %.1f %% of the package after the cut, curl -C - "
                "%.1f %%\n",
                resumeShare * 100, curlShare * 100);
    std::printf("          peak memory growth during verification: %.1f MiB%s\n",
                static_cast<double>(growthKiB) / 1024.0, verified ? "" : " (NOT VERIFIED)");
    printRatio("upload", upload, curlUpload, "curl -F", static_cast<double>(imageMiB));
    if (uploadResult != 0) {
        std::printf("          upload failed with %d\n", uploadResult);
    }
    std::printf("update    whole firmware update (upload, poll, reboot): %.3f s%s\n", update,
                updated ? "" : " (did not finish)");

    const double packageSize = static_cast<double>(packageMiB);
    const std::string best = ", best of " + std::to_string(kRuns);
    printThroughput("download",
                    "Download of a " + std::to_string(packageMiB) + " MiB package" + best, download,
                    curlDownload, "curl -o", packageSize);
    kv::bench::printResult({"resume",
                            "Share of a " + std::to_string(packageMiB) +
                                " MiB package transferred to resume a download cut at 90%",
                            resumeShare * 100, "%", "curl -C -", curlShare * 100,
                            resumeShare / curlShare, "program / peer bytes", "ratio<=1.05"});
    printThroughput("md5", "MD5 verification of that package" + best, verified ? md5 : -1, md5sum,
                    "md5sum", packageSize);
    kv::bench::printResult({"md5_memory", "Peak memory growth during MD5 verification",
                            verified ? static_cast<double>(growthKiB) / 1024.0 : NAN, "MiB", "",
                            NAN, NAN, "", "value<32"});
    printThroughput("upload",
                    "Firmware upload of a " + std::to_string(imageMiB) +
                        " MiB image to the device simulator" + best,
                    uploadResult == 0 ? upload : -1, curlUpload, "curl -F",
                    static_cast<double>(imageMiB));
    return 0;
}
