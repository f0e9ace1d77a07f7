#include "ReleaseServer.h"
#include "StdoutCapture.h"
#include "TempDir.h"
#include "kvcurl/kvcurl.h"
#include "platform/Console.h"

#include <gtest/gtest.h>

namespace {

using kv::test::ReleaseServer;
using kv::test::TempDir;

// The device's answers are read from the console.
class KvcurlUpload : public ::testing::Test {
protected:
    static void SetUpTestSuite() { kv::platform::attachConsole(); }

    TempDir root;
    TempDir files;
    ReleaseServer server{root.path()};
};

// The upload keeps no answer of its own: libcurl prints it on the console, where the
// server's echo of the request is read back.
TEST_F(KvcurlUpload, PostsTheFileAsOneMultipartPartWithoutCredentials) {
    const std::string image = files.file("korvex-2.1.0.img");
    kv::test::writeFile(image, "KELMORA FIRMWARE IMAGE");

    int32_t result = -1;
    std::string echo;
    {
        kv::test::StdoutCapture console;
        result = kvcurl::upload(server.url("/echo"), "firmware.bin", image);
        echo = console.text();
    }

    EXPECT_EQ(result, 0);
    EXPECT_NE(echo.find("\"method\": \"POST\""), std::string::npos) << echo;
    EXPECT_NE(echo.find("\"Content-Type\": \"multipart/form-data; boundary="), std::string::npos)
        << echo;
    EXPECT_NE(echo.find("Content-Disposition: form-data; name=\\\"firmware.bin\\\"; "
                        "filename=\\\"korvex-2.1.0.img\\\"\\r\\n"),
              std::string::npos)
        << echo;
    EXPECT_NE(echo.find("\\r\\n\\r\\nKELMORA FIRMWARE IMAGE\\r\\n--"), std::string::npos) << echo;
    EXPECT_EQ(echo.find("Authorization"), std::string::npos) << echo;
    EXPECT_EQ(echo.find("User-Agent"), std::string::npos) << echo;
    EXPECT_EQ(echo.find("Expect"), std::string::npos) << echo;
}

TEST_F(KvcurlUpload, MissingFileIsAReadError) {
    EXPECT_EQ(kvcurl::upload(server.url("/echo"), "firmware.bin", files.file("absent.img")), 26);
}

TEST_F(KvcurlUpload, DeviceErrorStatusIsNotATransferFailure) {
    const std::string image = files.file("image.img");
    kv::test::writeFile(image, "IMAGE");
    int32_t result = -1;
    std::string answer;
    {
        kv::test::StdoutCapture console;
        result = kvcurl::upload(server.url("/commands/upload?status=500"), "firmware.bin", image);
        answer = console.text();
    }

    EXPECT_EQ(result, 0);
    EXPECT_EQ(answer, "status 500\n");
}

// A device that restarted has forgotten the upload: its caller gives it up rather than wait for
// an answer that never comes.
TEST_F(KvcurlUpload, AbandonedUploadToASilentServerGivesUp) {
    const std::string image = files.file("image.img");
    kv::test::writeFile(image, "IMAGE");
    int asked = 0;
    EXPECT_EQ(kvcurl::upload(server.url("/commands/upload?stall=headers"), "firmware.bin", image,
                             [&] { return ++asked == 2; }),
              42);
    EXPECT_EQ(asked, 2);
}

} // namespace
