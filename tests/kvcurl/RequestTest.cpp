#include "ReleaseServer.h"
#include "ScopedEnv.h"
#include "StdoutCapture.h"
#include "TempDir.h"
#include "TestCa.h"
#include "kvcurl/download_reply.h"
#include "kvcurl/kvcurl.h"
#include "platform/Console.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace {

using kv::test::readFile;
using kv::test::writeFile;
namespace fs = std::filesystem;

constexpr int32_t kUnsupportedProtocol = 1;
constexpr int32_t kTimedOut = 28;

class KvcurlRequest : public ::testing::Test {
protected:
    // What the console showed while the call ran.
    static std::string console(const std::function<void()>& call) {
        kv::test::StdoutCapture capture;
        call();
        return capture.text();
    }

    // Bytes of every value, in a file the server serves as /firmware.img.
    void SetUp() override {
        for (size_t i = 0; i < package.size(); ++i) {
            package[i] = static_cast<char>(i * 7 % 251);
        }
        writeFile(root.file("firmware.img"), package);
    }

    kv::test::TempDir root;
    kv::test::TempDir downloads;
    kv::test::ReleaseServer server{root.path()};
    std::string package = std::string(512 * 1024, '\0');
};

// Error statuses and redirects are answers, returned as they came, not followed.
TEST_F(KvcurlRequest, GetReturnsStatusHeadersAndBodyOfEveryAnswer) {
    writeFile(root.file("dozoPublishConf.json"), "{\"products\":[]}");
    const auto reply = kvcurl::get(server.url("/dozoPublishConf.json"), 3000);
    EXPECT_EQ(reply->headers.rfind("HTTP/1.1 200 OK\r\n", 0), 0u);
    EXPECT_NE(reply->headers.find("Content-Length: 15\r\n"), std::string::npos);
    for (const auto& [path, code, body] :
         {std::tuple{"/dozoPublishConf.json", 200, "{\"products\":[]}"},
          {"/status?status=401", 401, "status 401\n"},
          {"/old?redirect=301&to=/echo", 301, "moved\n"},
          {"/old?redirect=302&to=/echo", 302, "moved\n"}}) {
        const auto answer = kvcurl::get(server.url(path));
        EXPECT_EQ(answer->code, code) << path;
        EXPECT_EQ(answer->error, "") << path;
        EXPECT_EQ(answer->body, body) << path;
    }
    std::string count;
    EXPECT_EQ(kvcurl::fetch(server.url("/control/count?path=/echo"), count, {}), 0);
    EXPECT_EQ(count, "0\n");
}

// The release server's echo of each request: method, headers and the given bytes of the body.
TEST_F(KvcurlRequest, RequestsCarryHeadersBodyAndCredentialsButStreamsNone) {
    const char* headers[] = {"Content-Type: application/json", "X-Kelmora: reboot"};
    const std::string credentials = "\"Authorization\": \"Basic ZHZ1czpkdnB3\"";
    const struct {
        std::unique_ptr<kvcurl::response> reply;
        std::vector<std::string> fragments;
    } cases[] = {
        {kvcurl::get(server.url("/echo")),
         {"\"method\": \"GET\"", credentials, "\"User-Agent\": \"libcurl/"}},
        {kvcurl::post(server.url("/echo"), headers, 2, nullptr, 0),
         {"\"method\": \"POST\"", credentials, "\"X-Kelmora\": \"reboot\"", "\"body\": \"\""}},
        {kvcurl::post(server.url("/echo"), headers, 1, "{\"reboot\":1}IGNORED", 12),
         {"\"Content-Type\": \"application/json\"", "\"body\": \"{\\\"reboot\\\":1}\""}},
    };
    for (const auto& [reply, fragments] : cases) {
        ASSERT_EQ(reply->code, 200);
        for (const std::string& fragment : fragments) {
            EXPECT_NE(reply->body.find(fragment), std::string::npos) << fragment << reply->body;
        }
    }
    EXPECT_EQ(cases[2].reply->body.find("X-Kelmora"), std::string::npos);
    // Streams go out anonymous: neither credentials nor a user agent.
    std::string echo;
    ASSERT_EQ(kvcurl::fetch(server.url("/echo"), echo, {}), 0);
    ASSERT_EQ(kvcurl::download(server.url("/echo"), downloads.file("echo.json"), {}), 0);
    for (const std::string& sent : {echo, readFile(downloads.file("echo.json"))}) {
        EXPECT_NE(sent.find("\"method\": \"GET\""), std::string::npos) << sent;
        EXPECT_EQ(sent.find("Authorization"), std::string::npos) << sent;
        EXPECT_EQ(sent.find("User-Agent"), std::string::npos) << sent;
    }
}

TEST_F(KvcurlRequest, RefusedCutTooSlowOrTooLargeRepliesGiveErrorTextAndCodeZero) {
    writeFile(root.file("large.txt"), std::string(kvcurl::kDefaultSizeLimit + 1, 'x'));
    writeFile(root.file("small.txt"), "small");
    std::string refused;
    {
        kv::test::TempDir otherRoot;
        refused = kv::test::ReleaseServer(otherRoot.path()).url("/echo");
    }
    const struct {
        std::unique_ptr<kvcurl::response> reply;
        int32_t result;
    } cases[] = {
        {kvcurl::get(refused), 7},
        {kvcurl::get(server.url("/package.bin?close=body")), 18},
        {kvcurl::get(server.url("/small.txt?rate=1"), 1000), kTimedOut},
        {kvcurl::post(server.url("/small.txt?rate=1"), nullptr, 0, nullptr, 0, 1000), kTimedOut},
        {kvcurl::get(server.url("/large.txt")), kvcurl::kTooLarge},
        // The headers alone pass a limit this small, and no size announces them.
        {kvcurl::get(server.url("/small.txt"), 0, 16), kvcurl::kTooLarge},
    };
    for (const auto& [reply, result] : cases) {
        EXPECT_EQ(reply->code, 0) << result;
        EXPECT_EQ(reply->result, result);
        EXPECT_EQ(reply->error, kvcurl::errorText(result));
    }
    EXPECT_EQ(kvcurl::get(refused)->body, "");
    std::string text;
    EXPECT_EQ(kvcurl::fetch(server.url("/large.txt"), text, {}), kvcurl::kTooLarge);
    EXPECT_EQ(kvcurl::get(server.url("/small.txt"), 0, 4096)->body, "small");
}

TEST_F(KvcurlRequest, OnlyHttpAndHttpsAreSpoken) {
    writeFile(root.file("secret.txt"), "secret");
    for (const std::string& url : {"file://" + root.file("secret.txt"),
                                   "dict://127.0.0.1:" + std::to_string(server.port()) + "/d"}) {
        const auto reply = kvcurl::get(url);
        EXPECT_EQ(reply->error, kvcurl::errorText(kUnsupportedProtocol)) << url;
        EXPECT_EQ(reply->body, "") << url;
        std::string text;
        EXPECT_EQ(kvcurl::fetch(url, text, {}), kUnsupportedProtocol) << url;
        EXPECT_EQ(text, "") << url;
        EXPECT_EQ(kvcurl::download(url, root.file("copy.txt"), {}), kUnsupportedProtocol) << url;
    }
    EXPECT_EQ(kvcurl::upload("file://" + root.file("upload.bin"), "firmware.bin",
                             root.file("secret.txt")),
              kUnsupportedProtocol);
    EXPECT_FALSE(fs::exists(root.file("upload.bin")));
}

// Without a bundle the system's authorities decide, and none of them signed the server's.
TEST(KvcurlTls, PeerIsVerifiedAgainstTheNamedBundleOnly) {
    kv::test::TempDir root;
    kv::test::TempDir otherRoot;
    const kv::test::TestCa ca{root.path()};
    const kv::test::TestCa other{otherRoot.path()};
    kv::test::ReleaseServer server{root.path(), ca.serverCertificate, ca.serverKey};
    writeFile(root.file("dozoPublishConf.json"), "{\"products\":[]}");
    const std::string url = server.url("/dozoPublishConf.json");
    for (const char* bundle :
         {ca.caFile.c_str(), other.caFile.c_str(), static_cast<const char*>(nullptr)}) {
        const bool trusted = bundle == ca.caFile.c_str();
        const kv::test::ScopedEnv chosen("KVPORTAL_CA_BUNDLE", bundle);
        const auto reply = kvcurl::get(url);
        EXPECT_EQ(reply->code, trusted ? 200 : 0);
        EXPECT_EQ(reply->error, trusted ? "" : kvcurl::errorText(60));
        EXPECT_EQ(reply->body, trusted ? "{\"products\":[]}" : "");
        std::string text;
        EXPECT_EQ(kvcurl::fetch(url, text, {}), trusted ? 0 : 60);
        EXPECT_EQ(kvcurl::download(url, root.file("copy.json"), {}), trusted ? 0 : 60);
        EXPECT_EQ(readFile(root.file("copy.json")), text);
    }
}

TEST_F(KvcurlRequest, DownloadAndFetchDeliverTheBodyAndReportProgress) {
    std::vector<std::pair<int64_t, int64_t>> reported;
    const kvcurl::ProgressFunction progress = [&](const kvcurl::session* session, int64_t total,
                                                  int64_t now, int64_t, int64_t) {
        EXPECT_NE(session, nullptr);
        reported.emplace_back(total, now);
        return 0;
    };
    const auto size = static_cast<int64_t>(package.size());
    // Whatever stands at the destination is replaced, never written through.
    writeFile(root.file("victim"), "keep");
    const std::string path = downloads.file("a.img");
    fs::create_symlink(root.file("victim"), path);
    kvcurl::resume_point resume;
    EXPECT_EQ(kvcurl::download(server.url("/firmware.img"), path, progress, &resume), 0);
    EXPECT_EQ(readFile(root.file("victim")), "keep");
    EXPECT_EQ(readFile(path), package);
    EXPECT_EQ(reported.back(), std::pair(size, size));
    EXPECT_FALSE(resume.resumed);
    ASSERT_EQ(resume.validator.rfind('"', 0), 0u) << resume.validator;

    // A resumed download asks for the rest and counts the bytes it had into its progress.
    fs::resize_file(path, 1000);
    reported.clear();
    EXPECT_EQ(kvcurl::download(server.url("/firmware.img"), path, progress, &resume), 0);
    EXPECT_TRUE(resume.resumed);
    EXPECT_EQ(readFile(path), package);
    EXPECT_EQ(reported.back(), std::pair(size, size));
    // The text is appended to.
    std::string text = "Terms: ";
    EXPECT_EQ(kvcurl::fetch(server.url("/firmware.img"), text, {}), 0);
    EXPECT_EQ(text, "Terms: " + package);
}

TEST_F(KvcurlRequest, FailedOrAbortedTransfersGiveLibcurlsCode) {
    int calls = 0;
    const kvcurl::ProgressFunction stop = [&](const kvcurl::session*, int64_t, int64_t, int64_t,
                                              int64_t) { return ++calls; };
    const kvcurl::ProgressFunction throwing = [](const kvcurl::session*, int64_t, int64_t, int64_t,
                                                 int64_t) -> int32_t {
        throw std::runtime_error("listener failed");
    };
    struct Case {
        const char* url;
        const char* file;
        kvcurl::ProgressFunction progress;
        int32_t result;
        bool fileLeft;
    } const cases[] = {
        {"/missing.img", "missing.img", {}, 22, true},
        {"/firmware.img", "no/such/folder/firmware.img", {}, 100, false},
        {"/firmware.img?close=body", "cut.img", {}, 18, true},
        {"/firmware.img", "stopped.img", stop, 42, true},
        {"/firmware.img", "thrown.img", throwing, 42, true},
    };
    for (const Case& c : cases) {
        const std::string path = downloads.file(c.file);
        EXPECT_EQ(kvcurl::download(server.url(c.url), path, c.progress), c.result) << c.file;
        EXPECT_EQ(fs::exists(path), c.fileLeft) << c.file;
        EXPECT_LT(fs::exists(path) ? fs::file_size(path) : 0, package.size()) << c.file;
        std::string text;
        EXPECT_EQ(kvcurl::fetch(server.url(c.url), text, c.progress),
                  c.result == 100 ? 0 : c.result)
            << c.file;
    }
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(fs::file_size(downloads.file("missing.img")), 0u);
    EXPECT_EQ(kvcurl::errorText(42), "Operation was aborted by an application callback");
}

// What If-Range may name: only a server that takes ranges is asked for one, and never with a
// weak ETag, which If-Range cannot match.
TEST(KvcurlDownloadReply, ValidatorIsAStrongETagElseTheDateOfAServerTakingRanges) {
    const std::string date = "Last-Modified: Mon, 07 Dec 2026 22:35:00 GMT\r\n";
    const struct {
        std::vector<std::string> headers;
        std::string validator;
        int64_t rangeStart;
    } cases[] = {
        {{"HTTP/1.1 200 OK\r\n", "accept-ranges: bytes\r\n", "ETag:\"a1\"\r\n", date},
         "\"a1\"",
         -1},
        {{"HTTP/1.1 200 OK\r\n", "Accept-Ranges: bytes\r\n", "ETag: W/\"a1\"\r\n", date},
         "Mon, 07 Dec 2026 22:35:00 GMT",
         -1},
        {{"HTTP/1.1 200 OK\r\n", "ETag: \"a1\"\r\n", date}, "", -1},
        {{"HTTP/1.1 200 OK\r\n", "Accept-Ranges: none\r\n", "ETag: \"a1\"\r\n"}, "", -1},
        {{"HTTP/1.1 206 Partial Content\r\n", "Content-Range: bytes 100-199/200\r\n",
          "ETag: \"a1\"\r\n"},
         "\"a1\"",
         100},
        {{"HTTP/1.1 206 Partial Content\r\n", "Content-Range: bytes 5-9/10\r\n"}, "", 5},
        // A redirect's headers do not carry over to the reply that follows it.
        {{"HTTP/1.1 302 Found\r\n", "Accept-Ranges: bytes\r\n", "ETag: \"old\"\r\n",
          "Content-Range: bytes 1-2/3\r\n", "HTTP/1.1 200 OK\r\n"},
         "",
         -1},
    };
    for (const auto& c : cases) {
        kvcurl::download_reply reply;
        for (const std::string& line : c.headers) {
            reply.readHeader(line);
        }
        EXPECT_EQ(reply.validator(), c.validator) << c.headers[0] << c.headers[1];
        EXPECT_EQ(reply.rangeStart, c.rangeStart) << c.headers[0] << c.headers[1];
    }
}

// The server holds a stalled connection for minutes, far longer than the 1 s allowed here; a
// trickle is fast enough never to count as stalled but ends past the total time-out.
TEST_F(KvcurlRequest, EveryCallGivesUpOnAServerThatStallsOrTrickles) {
    const kv::test::ScopedEnv timeout("KVPORTAL_HTTP_TIMEOUT", "1");
    for (const auto& reply :
         {kvcurl::get(server.url("/dozoPublishConf.json?stall=headers")),
          kvcurl::post(server.url("/firmware.img?stall=body"), nullptr, 0, nullptr, 0)}) {
        EXPECT_EQ(reply->code, 0);
        EXPECT_EQ(reply->error, kvcurl::errorText(kTimedOut));
    }
    EXPECT_EQ(
        kvcurl::download(server.url("/firmware.img?stall=body"), downloads.file("copy.img"), {}),
        kTimedOut);
    for (const char* path : {"/agreement.txt?stall=headers", "/firmware.img?rate=1000"}) {
        std::string text;
        EXPECT_EQ(kvcurl::fetch(server.url(path), text, {}), kTimedOut) << path;
    }
}

// Runs last: the console, once opened, stays open.
TEST_F(KvcurlRequest, ConsoleShowsRepliesOnlyOnceOpenedAndWithoutControlCharacters) {
    // Big enough to arrive in many pieces, and ending in what a hostile peer would send.
    std::string big(3 * 1024 * 1024, 'k');
    for (size_t i = 0; i < big.size(); i += 4096) {
        big[i] = '\n';
    }
    const std::string hostile = "\x1b]0;title\x07\x1b[2J\r\x7f\xc2\x9b"
                                "31m caf\xc3\xa9\tend\n";
    writeFile(root.file("big.txt"), big + hostile);
    std::unique_ptr<kvcurl::response> reply;
    const auto get = [&] { reply = kvcurl::get(server.url("/big.txt"), 0, 4 * 1024 * 1024); };
    EXPECT_EQ(console(get), "");
    kv::platform::attachConsole();
    const std::string shown = console(get);
    ASSERT_EQ(reply->code, 200);
    EXPECT_EQ(reply->body, big + hostile);
    std::string headers = reply->headers;
    headers.erase(std::remove(headers.begin(), headers.end(), '\r'), headers.end());
    EXPECT_TRUE(shown == headers + big + "]0;title[2J31m caf\xc3\xa9\tend\n");

    // An upload keeps no answer of its own: the device's answer is read from the console.
    const std::string image = root.file("korvex-2.1.0.img");
    writeFile(image, "KELMORA FIRMWARE IMAGE");
    int32_t result = -1;
    const std::string echo =
        console([&] { result = kvcurl::upload(server.url("/echo"), "firmware.bin", image); });
    EXPECT_EQ(result, 0);
    for (const char* sent :
         {"\"method\": \"POST\"", "\"Content-Type\": \"multipart/form-data; boundary=",
          "Content-Disposition: form-data; name=\\\"firmware.bin\\\"; "
          "filename=\\\"korvex-2.1.0.img\\\"\\r\\n",
          "\\r\\n\\r\\nKELMORA FIRMWARE IMAGE\\r\\n--"}) {
        EXPECT_NE(echo.find(sent), std::string::npos) << sent << echo;
    }
    for (const char* unsent : {"Authorization", "User-Agent", "Expect"}) {
        EXPECT_EQ(echo.find(unsent), std::string::npos) << unsent << echo;
    }
    // A device's error status is no transfer failure.
    EXPECT_EQ(console([&] {
                  result = kvcurl::upload(server.url("/up?status=500"), "firmware.bin", image);
              }),
              "status 500\n");
    EXPECT_EQ(result, 0);
    EXPECT_EQ(kvcurl::upload(server.url("/echo"), "firmware.bin", root.file("absent.img")), 26);
    // A device that restarted has forgotten the upload: its caller gives it up.
    int asked = 0;
    EXPECT_EQ(kvcurl::upload(server.url("/up?stall=headers"), "firmware.bin", image,
                             [&] { return ++asked == 2; }),
              42);
    EXPECT_EQ(asked, 2);
}

} // namespace
