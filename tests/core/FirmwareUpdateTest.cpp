// A firmware update against the simulated device behaving well and badly, rebooting on its own
// included: what the user is shown, what the device receives and what the update history says.

#include "CoreLab.h"
#include "DeviceSimulator.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

using namespace kv::portal;
using kv::test::DeviceSimulator;

namespace {

constexpr const char* kNewVersion = "2.0.0b7";
constexpr const char* kRequest = "Firmware Update Request";
constexpr const char* kUnavailable = "Firmware Update progress unavailable";
const std::string kSucceeded = R"("result":"succeeded","error_code":0)";

std::string failed(int errorCode) {
    return R"("result":"failed","error_code":)" + std::to_string(errorCode);
}

struct Case {
    std::string behaviour;
    // The status the update ends with.
    const char* shown;
    // "what=n; what>n; what<n": how often a status, a progress report (state first) or a device
    // counter (a name without blanks) was seen.
    const char* counts;
    // The outcome in the update history; none when the update leaves no record.
    std::string history = "";
    // "status; ...": the statuses in order, but requests and unavailable progress, whose
    // notices race with others.
    const char* sequence = "";
    ProductCode code = code::KORVEX_FIRMWARE;
    // The program's waits cut to 2 s, for a device that does not come back or never answers.
    bool shortWaits = false;
    // The device leaves discovery while it reboots.
    bool leaves = false;
    const char* installed = "1.0.0b1";
};

class FirmwareUpdate : public kv::test::CoreLab {
protected:
    void run(const std::vector<Case>& cases) {
        for (const Case& c : cases) {
            SCOPED_TRACE(c.behaviour);
            const std::string name = "Device " + std::to_string(devices_++);
            DeviceSimulator::Options options;
            options.behaviour = c.behaviour;
            options.imageFile = lab_.file(name);
            DeviceSimulator device(options);
            Version installed;
            installed.parseVersion(c.installed);
            ASSERT_TRUE(core_->addProduct(c.code, name, device.address(), installed));
            const ProductPtr product = core_->findProduct(name);
            auto release = std::make_shared<Product::Cloud>();
            release->version.parseVersion(kNewVersion);
            release->fileName = name + ".bin";
            product->cloud.set(release);
            const std::string package = core_->downloadPath(product, true);
            DeviceSimulator::makeImage(package, kNewVersion, 96 * 1024);
            const std::string image = kv::test::readFile(package);

            ::setenv("KVPORTAL_HTTP_TIMEOUT", c.shortWaits ? "2" : "", 1);
            core_->requestUpdate(product);
            if (c.leaves) {
                ASSERT_TRUE(events_.waitFor(status(name, "Device Rebooting")));
                core_->removeDevice(name);
            }
            ASSERT_TRUE(idle());

            EXPECT_EQ(product->statusText(), c.shown);
            EXPECT_FALSE(core_->firmwareUpdateActive());
            std::istringstream counts(c.counts);
            for (std::string count; std::getline(counts, count, ';');) {
                const size_t op = count.find_last_of("=<>");
                const size_t start = count.find_first_not_of(' ');
                const std::string what = count.substr(start, op - start);
                const int n = std::stoi(count.substr(op + 1));
                const int seen =
                    what.find(' ') == std::string::npos
                        ? device.counter(what.c_str())
                        : events_.count((std::isdigit(what[0]) ? "progress " : "status ") + name +
                                        " " + what);
                EXPECT_TRUE(count[op] == '='   ? seen == n
                            : count[op] == '<' ? seen < n
                                               : seen > n)
                    << count << ", seen " << seen;
            }
            // The finished state ends the poll without a last report to listeners.
            EXPECT_TRUE(events_.startingWith("progress " + name + " 4 ").empty());
            const bool updated = c.history == kSucceeded;
            EXPECT_EQ(versionText(product->version.get()),
                      versionText(updated ? release->version : installed));
            EXPECT_TRUE(!updated || (device.version() == kNewVersion &&
                                     kv::test::readFile(lab_.file(name)) == image));
            EXPECT_TRUE(kv::test::readFile(package) == image) << "the package changed";
            const rapidjson::Document state = device.state();
            if (state["counters"]["uploads_started"].GetInt() > 0) {
                EXPECT_STREQ(state["last_upload"]["part_name"].GetString(), "firmware.bin");
            }

            const std::string history =
                kv::test::readFile(core_->downloadsDir() + "/history.jsonl");
            const std::regex record(
                c.history.empty()
                    ? "\"product\":\"" + name + "\""
                    : R"(\{"time":"[^"]*","product":")" + name + R"(","code":")" + c.code +
                          R"(","address":")" + device.address() + R"(","from_version":")" +
                          versionText(installed) + R"(","to_version":"2.0.0 b7",)" + c.history +
                          R"(,"duration_ms":\d+\}\n)");
            EXPECT_EQ(std::distance(std::sregex_iterator(history.begin(), history.end(), record),
                                    std::sregex_iterator()),
                      c.history.empty() ? 0 : 1)
                << history;
            if (*c.sequence) {
                std::string sequence;
                for (const std::string& event : events_.startingWith("status " + name + " ")) {
                    const std::string text = event.substr(name.size() + 8);
                    if (text != kRequest && text != kUnavailable) {
                        sequence += (sequence.empty() ? "" : "; ") + text;
                    }
                }
                EXPECT_EQ(sequence, c.sequence);
            }
        }
    }

    kv::test::TempDir lab_;
    int devices_ = 0;
};

TEST_F(FirmwareUpdate, DeviceThatTakesTheImageRebootsIntoIt) {
    run({
        {"{}", "Update To Date",
         "Pending Update=1; Firmware Update Request=1; Device Rebooting=1; uploads_started=1; "
         "reboot_commands=1",
         kSucceeded},
        {R"({"lockstep": true, "resize_partitions": true})", "Update To Date",
         "Firmware Uploading=1; Firmware Updating=1; Resizing partitions=1; "
         "2 40 Writing firmware=1; 5 50 Resizing partitions=1; "
         "Firmware Update progress unavailable=0; state_requests=0",
         kSucceeded, "", code::VESK_III_FIRMWARE},
        // Followed on its command port, back to back; it is never seen back from its reboot.
        {R"({"lockstep": true, "status_service": "refuse", "report_text": false})",
         "Ready To Update",
         "Firmware Updating=1; 2 40 (no text)>0; Firmware Update progress unavailable=0; "
         "state_requests>0; reboot_commands=1",
         failed(-4), "", code::RX48_FIRMWARE, true},
        {R"({"drop_uploads": 1})", "Update To Date",
         "Firmware Update Request=2; uploads_dropped=1; reboot_commands=1", kSucceeded},
        // The failure, shown for less than the poller's pause, is still seen.
        {R"({"lockstep": true, "fail_uploads": 1, "failure_shown_ms": 300})", "Update To Date",
         "Firmware Update Error (-1)=1; uploads_received=2; reboot_commands=1", kSucceeded},
        // Writing its flash, the device misses polls and then answers blank: no restart.
        {R"({"lockstep": true, "busy_ms": 2500, "blank_ms": 1500})", "Update To Date",
         "Firmware Update Request=1; uploads_started=1; reboot_commands=1", kSucceeded},
        // Reported the end, then never answered the upload: the wait for it is bounded.
        {R"({"stall_finished_uploads": 1, "reboot_down_ms": 300})", "Update To Date",
         "Firmware Update Error (42)=1; uploads_received=2; reboot_commands=1", kSucceeded, "",
         code::KORVEX_FIRMWARE, true},
        // Nothing to upload: a download-only family, or a device up to date.
        {"{}", "Ready To Update", "uploads_started=0", "", "", code::VESK_FIRMWARE},
        {"{}", "Update To Date", "uploads_started=0", "", "", code::KORVEX_FIRMWARE, false, false,
         kNewVersion},
    });
}

// Refused uploads give the device's -1; a device that never reports a state, or answers on
// neither service (shown once per attempt, asked about once a second), gives -2.
TEST_F(FirmwareUpdate, ThreeFailedAttemptsLeaveTheirErrorAndNoReboot) {
    run({
        {R"({"fail_uploads": 3})", "Firmware Update Error (-1)",
         "Firmware Update Error (-1)=3; Firmware Update Error (-1). Retrying...=2; "
         "uploads_received=3; reboot_commands=0",
         failed(-1)},
        {R"({"report_state": false})", "Firmware Update Error (-2)",
         "Firmware Update Error (-2)=3; Firmware Update Error (-2). Retrying...=2; "
         "uploads_received=3; reboot_commands=0",
         failed(-2)},
        {R"({"status_service": "refuse", "state_request": "refuse", "upload_delay_ms": 1000})",
         "Firmware Update Error (-2)",
         "Firmware Update Error (-2)=3; Firmware Update progress unavailable=3; "
         "uploads_received=3; refused_state_requests<20; reboot_commands=0",
         failed(-2)},
    });
}

// A device may ignore the reboot command, stay away, come back with its old firmware, or leave
// discovery while it reboots (it is added anew when it is back; its record is still written).
TEST_F(FirmwareUpdate, DeviceThatDoesNotComeBackAsExpectedIsShownAsItIs) {
    run({
        {R"({"commands": "stall"})", "Ready To Update", "", failed(-4), "", code::KORVEX_FIRMWARE,
         true},
        {R"({"reboot_down_ms": 600000})", "Ready To Update", "Device Rebooting=1", failed(-4), "",
         code::KORVEX_FIRMWARE, true},
        {R"({"reject_images": 1})", "Ready To Update", "reboot_commands=1", failed(-3)},
        {R"({"reboot_down_ms": 600000})", "Device Rebooting", "Device Rebooting=1", failed(-4), "",
         code::KORVEX_FIRMWARE, true, true},
    });
}

// The device reboots on its own just after it began writing the image: as it goes down it
// resets the upload's connection and refuses the retries, or it says nothing, and the poller
// sees it come back knowing of no update. Rebooting once it took the image is a success.
TEST_F(FirmwareUpdate, DeviceRebootingOnItsOwn) {
    const std::string writing = R"({"lockstep": true, "reboot_updates": 1, "reboot_after_ms": 200,
                                    "reboot_point": )";
    run({
        {writing + R"("updating", "reboot_cut": "reset"})", "Firmware Update Error (7)",
         "uploads_received=1; reboots=1; reboot_commands=0", failed(7),
         "Pending Update; Firmware Uploading; Firmware Updating; Firmware Update Error (56); "
         "Firmware Update Error (56). Retrying...; Firmware Update Error (7); "
         "Firmware Update Error (7). Retrying...; Firmware Update Error (7)"},
        {writing + R"("updating", "reboot_cut": "silent"})", "Update To Date",
         "Firmware Update progress unavailable=1; Firmware Update Request=2; uploads_received=2; "
         "reboots=2; reboot_commands=1",
         kSucceeded,
         "Pending Update; Firmware Uploading; Firmware Updating; Firmware Update Error (42); "
         "Firmware Update Error (42). Retrying...; Firmware Uploading; Firmware Updating; "
         "Device Rebooting; Update To Date"},
        {writing + R"("applied"})", "Update To Date",
         "Firmware Update Request=1; uploads_received=1; reboots=1; reboot_commands=0", kSucceeded,
         "Pending Update; Firmware Uploading; Firmware Updating; Device Rebooting; "
         "Update To Date"},
    });
}

} // namespace
