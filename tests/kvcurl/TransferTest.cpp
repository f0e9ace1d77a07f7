#include "ReleaseServer.h"
#include "TempDir.h"
#include "kvcurl/download_reply.h"
#include "kvcurl/kvcurl.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {

using kv::test::readFile;
using kv::test::ReleaseServer;
using kv::test::TempDir;
namespace fs = std::filesystem;

class KvcurlTransfer : public ::testing::Test {
protected:
    void SetUp() override {
        package.resize(512 * 1024);
        for (size_t i = 0; i < package.size(); ++i) {
            package[i] = static_cast<char>(i * 7 % 251);
        }
        kv::test::writeFile(root.file("firmware.img"), package);
    }

    TempDir root;
    TempDir downloads;
    ReleaseServer server{root.path()};
    std::string package;
};

TEST_F(KvcurlTransfer, DownloadAndFetchDeliverTheBodyAndReportProgress) {
    int64_t lastTotal = -1;
    int64_t lastNow = -1;
    const kvcurl::ProgressFunction progress = [&](const kvcurl::session* session, int64_t total,
                                                  int64_t now, int64_t, int64_t) {
        EXPECT_NE(session, nullptr);
        lastTotal = total;
        lastNow = now;
        return 0;
    };
    EXPECT_EQ(kvcurl::download(server.url("/firmware.img"), downloads.file("a.img"), progress), 0);
    EXPECT_EQ(readFile(downloads.file("a.img")), package);
    EXPECT_EQ(lastTotal, static_cast<int64_t>(package.size()));
    EXPECT_EQ(lastNow, static_cast<int64_t>(package.size()));

    EXPECT_EQ(kvcurl::download(server.url("/firmware.img"), downloads.file("b.img"), {}), 0);
    EXPECT_EQ(readFile(downloads.file("b.img")), package);
    // The text is appended to.
    std::string text = "Terms: ";
    EXPECT_EQ(kvcurl::fetch(server.url("/firmware.img"), text, {}), 0);
    EXPECT_EQ(text, "Terms: " + package);
}

TEST_F(KvcurlTransfer, FailedTransfersGiveLibcurlsCode) {
    struct Case {
        const char* url;
        const char* file;
        int32_t result;
        bool fileLeft;
    } const cases[] = {
        {"/missing.img", "missing.img", 22, true},
        {"/firmware.img", "no/such/folder/firmware.img", 100, false},
        {"/firmware.img?close=body", "cut.img", 18, true},
    };
    for (const Case& c : cases) {
        const std::string path = downloads.file(c.file);
        EXPECT_EQ(kvcurl::download(server.url(c.url), path, {}), c.result) << c.url;
        EXPECT_EQ(fs::exists(path), c.fileLeft) << c.url;
        EXPECT_LT(fs::exists(path) ? fs::file_size(path) : 0, package.size()) << c.url;
    }
    EXPECT_EQ(fs::file_size(downloads.file("missing.img")), 0u);
    std::string text;
    EXPECT_EQ(kvcurl::fetch(server.url("/firmware.img?close=body"), text, {}), 18);
    EXPECT_EQ(kvcurl::errorText(22), "HTTP response code said error");
}

// Whatever stands at the destination is replaced, never written through.
TEST_F(KvcurlTransfer, DownloadReplacesASymbolicLinkInsteadOfWritingThroughIt) {
    kv::test::writeFile(root.file("victim"), "keep");
    const std::string path = downloads.file("firmware.img");
    fs::create_symlink(root.file("victim"), path);

    EXPECT_EQ(kvcurl::download(server.url("/firmware.img"), path, {}), 0);
    EXPECT_EQ(readFile(root.file("victim")), "keep");
    EXPECT_FALSE(fs::is_symlink(path));
    EXPECT_EQ(readFile(path), package);
}

// A progress function that says stop, or throws, aborts the transfer at once.
TEST_F(KvcurlTransfer, ProgressFunctionThatStopsOrThrowsAbortsWith42) {
    int calls = 0;
    const kvcurl::ProgressFunction stop = [&](const kvcurl::session*, int64_t, int64_t, int64_t,
                                              int64_t) {
        ++calls;
        return 1;
    };
    const kvcurl::ProgressFunction throwing = [](const kvcurl::session*, int64_t, int64_t, int64_t,
                                                 int64_t) -> int32_t {
        throw std::runtime_error("listener failed");
    };
    const std::string path = downloads.file("firmware.img");
    EXPECT_EQ(kvcurl::download(server.url("/firmware.img"), path, stop), 42);
    EXPECT_EQ(calls, 1);
    EXPECT_LT(fs::file_size(path), package.size());
    for (const auto& progress : {stop, throwing}) {
        std::string text;
        EXPECT_EQ(kvcurl::fetch(server.url("/firmware.img"), text, progress), 42);
    }
    EXPECT_EQ(kvcurl::errorText(42), "Operation was aborted by an application callback");
}

TEST_F(KvcurlTransfer, StreamsSendNeitherCredentialsNorUserAgent) {
    std::string echo;
    ASSERT_EQ(kvcurl::fetch(server.url("/echo"), echo, {}), 0);
    EXPECT_NE(echo.find("\"method\": \"GET\""), std::string::npos) << echo;
    ASSERT_EQ(kvcurl::download(server.url("/echo"), downloads.file("echo.json"), {}), 0);
    for (const std::string& sent : {echo, readFile(downloads.file("echo.json"))}) {
        EXPECT_EQ(sent.find("Authorization"), std::string::npos) << sent;
        EXPECT_EQ(sent.find("User-Agent"), std::string::npos) << sent;
    }
}

// What If-Range may name: only a server that takes ranges is asked for one, and never with a
// weak ETag, which If-Range cannot match.
TEST(KvcurlDownloadReply, ValidatorIsAStrongETagElseTheDateOfAServerTakingRanges) {
    const std::string date = "Last-Modified: Mon, 07 Dec 2026 22:35:00 GMT\r\n";
    const struct {
        std::vector<std::string> headers;
        std::string validator;
    } cases[] = {
        {{"HTTP/1.1 200 OK\r\n", "accept-ranges: bytes\r\n", "ETag: \"a1\"\r\n", date}, "\"a1\""},
        {{"HTTP/1.1 200 OK\r\n", "Accept-Ranges: bytes\r\n", "ETag: W/\"a1\"\r\n", date},
         "Mon, 07 Dec 2026 22:35:00 GMT"},
        {{"HTTP/1.1 200 OK\r\n", "ETag: \"a1\"\r\n", date}, ""},
        {{"HTTP/1.1 200 OK\r\n", "Accept-Ranges: none\r\n", "ETag: \"a1\"\r\n"}, ""},
        {{"HTTP/1.1 206 Partial Content\r\n", "Content-Range: bytes 100-199/200\r\n",
          "ETag: \"a1\"\r\n"},
         "\"a1\""},
        // A redirect's headers do not carry over to the reply that follows it.
        {{"HTTP/1.1 302 Found\r\n", "Accept-Ranges: bytes\r\n", "ETag: \"old\"\r\n",
          "HTTP/1.1 200 OK\r\n"},
         ""},
    };
    for (const auto& c : cases) {
        kvcurl::download_reply reply;
        for (const std::string& line : c.headers) {
            reply.readHeader(line);
        }
        EXPECT_EQ(reply.validator(), c.validator) << c.headers[0] << c.headers[1];
    }
    kvcurl::download_reply partial;
    partial.readHeader("Content-Range: bytes 100-199/200\r\n");
    EXPECT_EQ(partial.rangeStart, 100);
}

} // namespace
