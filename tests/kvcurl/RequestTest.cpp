#include "ReleaseServer.h"
#include "StdoutCapture.h"
#include "TempDir.h"
#include "kvcurl/kvcurl.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

using kv::test::ReleaseServer;
using kv::test::TempDir;

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

TEST_F(KvcurlRequest, GetReturnsStatusHeadersAndBody) {
    kv::test::writeFile(root.file("dozoPublishConf.json"), "{\"products\":[]}");

    const auto reply = kvcurl::get(server.url("/dozoPublishConf.json"), 3000);

    EXPECT_EQ(reply->code, 200);
    EXPECT_EQ(reply->error, "");
    EXPECT_EQ(reply->body, "{\"products\":[]}");
    EXPECT_EQ(reply->headers.rfind("HTTP/1.1 200 OK\r\n", 0), 0u);
    EXPECT_NE(reply->headers.find("Content-Length: 15\r\n"), std::string::npos);
}

TEST_F(KvcurlRequest, Answer401KeepsCodeAndBodyWithoutError) {
    const auto reply = kvcurl::get(server.url("/status?status=401"));

    EXPECT_EQ(reply->code, 401);
    EXPECT_EQ(reply->error, "");
    EXPECT_EQ(reply->body, "status 401\n");
}

TEST_F(KvcurlRequest, RedirectsAreReturnedNotFollowed) {
    for (const int code : {301, 302}) {
        const auto reply =
            kvcurl::get(server.url("/old?redirect=" + std::to_string(code) + "&to=/echo"));

        EXPECT_EQ(reply->code, code);
        EXPECT_EQ(reply->body, "moved\n");
    }
    std::string count;
    EXPECT_EQ(kvcurl::fetch(server.url("/control/count?path=/echo"), count, {}), 0);
    EXPECT_EQ(count, "0\n");
}

TEST_F(KvcurlRequest, GetSendsDeviceCredentialsAndLibcurlUserAgent) {
    const auto reply = kvcurl::get(server.url("/echo"));

    ASSERT_EQ(reply->code, 200);
    EXPECT_NE(reply->body.find("\"Authorization\": \"Basic ZHZ1czpkdnB3\""), std::string::npos)
        << reply->body;
    EXPECT_NE(reply->body.find("\"User-Agent\": \"libcurl/"), std::string::npos) << reply->body;
}

TEST_F(KvcurlRequest, PostWithoutBodySendsMethodAndHeadersOnly) {
    const char* headers[] = {"Content-Type: application/json", "X-Kelmora: reboot"};

    const auto reply = kvcurl::post(server.url("/echo"), headers, 2, nullptr, 0);

    ASSERT_EQ(reply->code, 200);
    const std::string& echo = reply->body;
    EXPECT_NE(echo.find("\"method\": \"POST\""), std::string::npos) << echo;
    EXPECT_NE(echo.find("\"Content-Type\": \"application/json\""), std::string::npos) << echo;
    EXPECT_NE(echo.find("\"X-Kelmora\": \"reboot\""), std::string::npos) << echo;
    EXPECT_NE(echo.find("\"body\": \"\""), std::string::npos) << echo;
    EXPECT_NE(echo.find("\"Authorization\": \"Basic ZHZ1czpkdnB3\""), std::string::npos) << echo;
}

TEST_F(KvcurlRequest, PostSendsTheGivenBytesOfTheBody) {
    const char* headers[] = {"Content-Type: application/json"};
    const char body[] = "{\"reboot\":1}IGNORED";

    const auto reply = kvcurl::post(server.url("/echo"), headers, 1, body, 12);

    ASSERT_EQ(reply->code, 200);
    EXPECT_NE(reply->body.find("\"body\": \"{\\\"reboot\\\":1}\""), std::string::npos)
        << reply->body;
}

TEST_F(KvcurlRequest, ConnectionRefusedGivesErrorTextAndCodeZero) {
    std::string url;
    {
        TempDir otherRoot;
        ReleaseServer stopped(otherRoot.path());
        url = stopped.url("/echo");
    }

    const auto reply = kvcurl::get(url);

    EXPECT_EQ(reply->code, 0);
    EXPECT_EQ(reply->error, kvcurl::errorText(7));
    EXPECT_EQ(reply->body, "");
}

TEST_F(KvcurlRequest, ConnectionClosedMidBodyIsAFailure) {
    const auto reply = kvcurl::get(server.url("/package.bin?close=body"));

    EXPECT_EQ(reply->code, 0);
    EXPECT_EQ(reply->error, kvcurl::errorText(18));
}

TEST_F(KvcurlRequest, ConsoleShowsEachReceivedByteOnce) {
    // Big enough to arrive in many pieces.
    std::string package(3 * 1024 * 1024, 'k');
    for (size_t i = 0; i < package.size(); i += 4096) {
        package[i] = '\n';
    }
    kv::test::writeFile(root.file("big.txt"), package);

    std::unique_ptr<kvcurl::response> reply;
    std::string console;
    {
        kv::test::StdoutCapture capture;
        reply = kvcurl::get(server.url("/big.txt"));
        console = capture.text();
    }

    ASSERT_EQ(reply->code, 200);
    EXPECT_EQ(reply->body, package);
    EXPECT_EQ(console, reply->headers + reply->body);
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
