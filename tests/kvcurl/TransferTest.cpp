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
namespace fs = std::filesystem;

class KvcurlTransfer : public ::testing::Test {
protected:
    void SetUp() override {
        for (size_t i = 0; i < package.size(); ++i) {
            package[i] = static_cast<char>(i * 7 % 251);
        }
        kv::test::writeFile(root.file("firmware.img"), package);
    }

    kv::test::TempDir root;
    kv::test::TempDir downloads;
    kv::test::ReleaseServer server{root.path()};
    std::string package = std::string(512 * 1024, '\0');
};

TEST_F(KvcurlTransfer, DownloadAndFetchDeliverTheBodyAndReportProgress) {
    std::vector<std::pair<int64_t, int64_t>> reported;
    const kvcurl::ProgressFunction progress = [&](const kvcurl::session* session, int64_t total,
                                                  int64_t now, int64_t, int64_t) {
        EXPECT_NE(session, nullptr);
        reported.emplace_back(total, now);
        return 0;
    };
    const auto size = static_cast<int64_t>(package.size());
    // Whatever stands at the destination is replaced, never written through.
    kv::test::writeFile(root.file("victim"), "keep");
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

TEST_F(KvcurlTransfer, FailedOrAbortedTransfersGiveLibcurlsCode) {
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

} // namespace
