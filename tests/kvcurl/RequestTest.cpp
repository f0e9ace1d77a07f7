#include "ReleaseServer.h"
#include "ScopedEnv.h"
#include "StdoutCapture.h"
#include "TempDir.h"
#include "TestCa.h"
#include "kvcurl/kvcurl.h"
#include "platform/Console.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>

namespace {

using kv::test::writeFile;

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

    kv::test::TempDir root;
    kv::test::ReleaseServer server{root.path()};
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
TEST_F(KvcurlRequest, RequestsCarryTheirHeadersBodyAndTheDeviceCredentials) {
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
    EXPECT_FALSE(std::filesystem::exists(root.file("upload.bin")));
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
        EXPECT_EQ(kv::test::readFile(root.file("copy.json")), text);
    }
}

// Runs last: the console, once opened, stays open.
TEST_F(KvcurlRequest, ConsoleShowsRepliesOnlyOnceOpenedAndWithoutControlCharacters) {
    // Big enough to arrive in many pieces, and ending in what a hostile peer would send.
    std::string package(3 * 1024 * 1024, 'k');
    for (size_t i = 0; i < package.size(); i += 4096) {
        package[i] = '\n';
    }
    const std::string hostile = "\x1b]0;title\x07\x1b[2J\r\x7f\xc2\x9b"
                                "31m caf\xc3\xa9\tend\n";
    writeFile(root.file("big.txt"), package + hostile);
    std::unique_ptr<kvcurl::response> reply;
    const auto get = [&] { reply = kvcurl::get(server.url("/big.txt"), 0, 4 * 1024 * 1024); };
    EXPECT_EQ(console(get), "");
    kv::platform::attachConsole();
    const std::string shown = console(get);
    ASSERT_EQ(reply->code, 200);
    EXPECT_EQ(reply->body, package + hostile);
    std::string headers = reply->headers;
    headers.erase(std::remove(headers.begin(), headers.end(), '\r'), headers.end());
    EXPECT_TRUE(shown == headers + package + "]0;title[2J31m caf\xc3\xa9\tend\n");

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
