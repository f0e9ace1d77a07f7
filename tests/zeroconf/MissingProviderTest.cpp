// Runs with KVPORTAL_DNSSD_LIBRARY naming a file that does not exist: the program runs on,
// without discovery.
#include "StdoutCapture.h"
#include "client.h"

#include <gtest/gtest.h>

#include <string>

TEST(MissingProvider, EveryOperationFailsAsServiceNotRunning) {
    kv::test::StdoutCapture log;
    auto client = zeroconf::create_client(-1);
    EXPECT_EQ(nullptr, client->browse("", "_http._tcp", "_ravenna", nullptr, false));
    EXPECT_EQ(nullptr, client->browse_hostname("korvex-1.local", nullptr));
    EXPECT_EQ(nullptr, client->register_service("Studio A", "_http._tcp", 80, {}, {}, {}));
    client.reset();
    const std::string text = log.text();
    for (const char* line :
         {"[0]   _http._tcp; runtime error DNSServiceBrowse() failed (-65563).\n",
          "runtime error DNSServiceGetAddrInfo() failed (-65563).\n",
          "runtime error Could not register service \"Studio A\" (-65563).\n"}) {
        EXPECT_NE(std::string::npos, text.find(line)) << text;
    }
}
