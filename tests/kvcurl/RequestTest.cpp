#include "ReleaseServer.h"
#include "StdoutCapture.h"
#include "TempDir.h"
#include "kvcurl/kvcurl.h"
#include "platform/Console.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <thread>
#include <vector>

namespace {

using kv::test::ReleaseServer;
using kv::test::TempDir;

constexpr int32_t kUnsupportedProtocol = 1;
constexpr int32_t kTimedOut = 28;

// The user agent member of the release server's echo of a request.
std::string userAgentLine(const std::string& echo) {
    const size_t start = echo.find("\"User-Agent\": \"");
    if (start == std::string::npos) {
        return {};
    }
    return echo.substr(start, echo.find('"', start + 15) + 1 - start);
}

class KvcurlRequest : public ::testing::Test {
protected:
    TempDir root;
    ReleaseServer server{root.path()};
};

// Error statuses and redirects are answers, returned as they came, not followed.
TEST_F(KvcurlRequest, GetReturnsStatusHeadersAndBodyOfEveryAnswer) {
    kv::test::writeFile(root.file("dozoPublishConf.json"), "{\"products\":[]}");
    const auto reply = kvcurl::get(server.url("/dozoPublishConf.json"), 3000);
    EXPECT_EQ(reply->code, 200);
    EXPECT_EQ(reply->error, "");
    EXPECT_EQ(reply->body, "{\"products\":[]}");
    EXPECT_EQ(reply->headers.rfind("HTTP/1.1 200 OK\r\n", 0), 0u);
    EXPECT_NE(reply->headers.find("Content-Length: 15\r\n"), std::string::npos);

    for (const auto& [path, code, body] : {std::tuple{"/status?status=401", 401, "status 401\n"},
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
    const char body[] = "{\"reboot\":1}IGNORED";
    const std::string credentials = "\"Authorization\": \"Basic ZHZ1czpkdnB3\"";
    struct Case {
        std::unique_ptr<kvcurl::response> reply;
        std::vector<std::string> fragments;
    } const cases[] = {
        {kvcurl::get(server.url("/echo")),
         {"\"method\": \"GET\"", credentials, "\"User-Agent\": \"libcurl/"}},
        {kvcurl::post(server.url("/echo"), headers, 2, nullptr, 0),
         {"\"method\": \"POST\"", credentials, "\"Content-Type\": \"application/json\"",
          "\"X-Kelmora\": \"reboot\"", "\"body\": \"\""}},
        {kvcurl::post(server.url("/echo"), headers, 1, body, 12),
         {"\"body\": \"{\\\"reboot\\\":1}\""}},
    };
    for (const auto& [reply, fragments] : cases) {
        ASSERT_EQ(reply->code, 200);
        for (const std::string& fragment : fragments) {
            EXPECT_NE(reply->body.find(fragment), std::string::npos) << fragment << reply->body;
        }
    }
    EXPECT_EQ(cases[2].reply->body.find("X-Kelmora"), std::string::npos);
}

TEST_F(KvcurlRequest, RefusedOrCutConnectionGivesErrorTextAndCodeZero) {
    std::string refused;
    {
        TempDir otherRoot;
        ReleaseServer stopped(otherRoot.path());
        refused = stopped.url("/echo");
    }
    for (const auto& [url, result] :
         {std::pair{refused, 7}, {server.url("/package.bin?close=body"), 18}}) {
        const auto reply = kvcurl::get(url);
        EXPECT_EQ(reply->code, 0) << url;
        EXPECT_EQ(reply->error, kvcurl::errorText(result)) << url;
    }
    EXPECT_EQ(kvcurl::get(refused)->body, "");
}

TEST_F(KvcurlRequest, ConsoleShowsRepliesOnlyOnceOpenedAndWithoutControlCharacters) {
    // Big enough to arrive in many pieces, and ending in what a hostile peer would send.
    std::string package(3 * 1024 * 1024, 'k');
    for (size_t i = 0; i < package.size(); i += 4096) {
        package[i] = '\n';
    }
    const std::string hostile = "\x1b]0;title\x07\x1b[2J\r\x7f\xc2\x9b"
                                "31m caf\xc3\xa9\tend\n";
    kv::test::writeFile(root.file("big.txt"), package + hostile);
    std::unique_ptr<kvcurl::response> reply;
    const auto console = [&] {
        kv::test::StdoutCapture capture;
        reply = kvcurl::get(server.url("/big.txt"), 0, 4 * 1024 * 1024);
        return capture.text();
    };

    EXPECT_EQ(console(), "");
    kv::platform::attachConsole();
    const std::string shown = console();

    ASSERT_EQ(reply->code, 200);
    EXPECT_EQ(reply->body, package + hostile);
    std::string headers = reply->headers;
    headers.erase(std::remove(headers.begin(), headers.end(), '\r'), headers.end());
    EXPECT_TRUE(shown == headers + package + "]0;title[2J31m caf\xc3\xa9\tend\n");
}

TEST_F(KvcurlRequest, OnlyHttpAndHttpsAreSpoken) {
    kv::test::writeFile(root.file("secret.txt"), "secret");
    const std::string urls[] = {"file://" + root.file("secret.txt"),
                                "dict://127.0.0.1:" + std::to_string(server.port()) + "/d:kv"};
    for (const std::string& url : urls) {
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

TEST_F(KvcurlRequest, ReplyLargerThanItsLimitEndsTheRequest) {
    kv::test::writeFile(root.file("large.txt"), std::string(kvcurl::kDefaultSizeLimit + 1, 'x'));
    kv::test::writeFile(root.file("small.txt"), "small");

    EXPECT_EQ(kvcurl::get(server.url("/large.txt"))->error, kvcurl::errorText(kvcurl::kTooLarge));
    std::string text;
    EXPECT_EQ(kvcurl::fetch(server.url("/large.txt"), text, {}), kvcurl::kTooLarge);
    // The headers alone pass a limit this small, and no size announces them.
    const auto reply = kvcurl::get(server.url("/small.txt"), 0, 16);
    EXPECT_EQ(reply->result, kvcurl::kTooLarge);
    EXPECT_EQ(reply->code, 0);
    EXPECT_EQ(kvcurl::get(server.url("/small.txt"), 0, 4096)->body, "small");
}

TEST_F(KvcurlRequest, TimeLimitEndsAReplyThatTrickles) {
    kv::test::writeFile(root.file("slow.json"), "{\"a\":1}");

    EXPECT_EQ(kvcurl::get(server.url("/slow.json?rate=1"), 1000)->error,
              kvcurl::errorText(kTimedOut));
    EXPECT_EQ(kvcurl::post(server.url("/slow.json?rate=1"), nullptr, 0, nullptr, 0, 1000)->error,
              kvcurl::errorText(kTimedOut));
}

TEST_F(KvcurlRequest, ConcurrentRequestsEachGetTheirOwnAnswer) {
    for (int i = 0; i < 6; ++i) {
        kv::test::writeFile(root.file("device" + std::to_string(i) + ".json"),
                            "{\"serial\":\"KV" + std::to_string(i) + "\"}");
    }
    std::vector<std::unique_ptr<kvcurl::response>> replies(6);
    std::vector<std::unique_ptr<kvcurl::response>> echoes(6);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < replies.size(); ++i) {
        threads.emplace_back([&, i] {
            replies[i] = kvcurl::get(server.url("/device" + std::to_string(i) + ".json"), 1000);
            echoes[i] = kvcurl::post(server.url("/echo"), nullptr, 0, nullptr, 0);
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }

    const std::string expected = userAgentLine(kvcurl::get(server.url("/echo"))->body);
    ASSERT_EQ(expected.rfind("\"User-Agent\": \"libcurl/", 0), 0u) << expected;
    for (size_t i = 0; i < replies.size(); ++i) {
        EXPECT_EQ(replies[i]->code, 200);
        EXPECT_EQ(replies[i]->body, "{\"serial\":\"KV" + std::to_string(i) + "\"}");
        EXPECT_EQ(userAgentLine(echoes[i]->body), expected);
    }
}

} // namespace
