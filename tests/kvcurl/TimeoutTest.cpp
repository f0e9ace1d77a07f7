#include "ReleaseServer.h"
#include "TempDir.h"
#include "kvcurl/kvcurl.h"

#include <gtest/gtest.h>

// The server holds a stalled connection for minutes, far longer than the 1 s this test program
// allows; a trickle is fast enough never to count as stalled but ends past the total time-out.
TEST(KvcurlTimeout, EveryCallGivesUpOnAServerThatStallsOrTrickles) {
    kv::test::TempDir root;
    kv::test::ReleaseServer server{root.path()};
    kv::test::writeFile(root.file("firmware.img"), std::string(4096, 'f'));
    constexpr int32_t kTimedOut = 28;
    for (const auto& reply :
         {kvcurl::get(server.url("/dozoPublishConf.json?stall=headers")),
          kvcurl::post(server.url("/firmware.img?stall=body"), nullptr, 0, nullptr, 0)}) {
        EXPECT_EQ(reply->code, 0);
        EXPECT_EQ(reply->error, kvcurl::errorText(kTimedOut));
    }
    EXPECT_EQ(kvcurl::download(server.url("/firmware.img?stall=body"), root.file("copy.img"), {}),
              kTimedOut);
    for (const char* path : {"/agreement.txt?stall=headers", "/firmware.img?rate=1000"}) {
        std::string text;
        EXPECT_EQ(kvcurl::fetch(server.url(path), text, {}), kTimedOut) << path;
    }
}
