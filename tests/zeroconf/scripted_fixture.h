#pragma once

#include "StdoutCapture.h"
#include "client.h"
#include "recording_listeners.h"
#include "scripted_dns_sd.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

namespace zeroconf_test {

constexpr DNSServiceErrorType kUnknown = -65537;
constexpr DNSServiceErrorType kServiceNotRunning = -65563;
inline const std::string kAddress("\x0a\x4d\x00\x0b", 4);
inline const std::string kTxt("\x1bvendor=Kelmora Technologies\x0eproduct=KORVEX", 43);

// The provider's replies on the operation's interface.
inline void browsed(const scripted::operation_ptr& op, DNSServiceFlags flags, const char* name,
                    DNSServiceErrorType error = 0) {
    scripted::browse_reply(op, flags, op->interface_index, error, name,
                           name ? "_http._tcp." : nullptr, name ? "local." : nullptr);
}

inline void resolved(const scripted::operation_ptr& op, const char* fullname,
                     const std::string& txt = kTxt, DNSServiceErrorType error = 0) {
    scripted::resolve_reply(op, 0, op->interface_index, error, fullname,
                            fullname ? "korvex-1.local." : nullptr, 8080, txt);
}

inline void queried(const scripted::operation_ptr& op, DNSServiceFlags flags,
                    const std::string& rdata = kAddress, DNSServiceErrorType error = 0) {
    scripted::query_reply(op, flags, op->interface_index, error, error ? nullptr : "korvex-1.local",
                          rdata.size() == 4 ? kDNSServiceType_A : kDNSServiceType_AAAA, rdata);
}

// Each test starts with a fresh scripted provider, a client on interface 3 and the log captured,
// and must end with every DNS-SD reference released and no call the provider would refuse.
class ScriptedTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Without it the discovery library has loaded the system's provider.
        ASSERT_NE(nullptr, std::getenv("KVPORTAL_DNSSD_LIBRARY")) << "run through ctest";
    }

    ~ScriptedTest() override {
        browser.reset();
        client.reset();
        EXPECT_TRUE(scripted::wait_all_released()) << "references left unreleased";
        for (const auto& misuse : scripted::misuses()) {
            ADD_FAILURE() << misuse;
        }
        scripted::reset();
    }

    bool logged(const std::string& line) const {
        return log_.text().find("zeroconf_category: " + line) != std::string::npos;
    }
    std::string log() const { return log_.text(); }

    // A browse for "_http._tcp" with the subtype "_ravenna"; an instance appearing in it, and
    // the resolve started for it; the address query that resolve goes on to.
    scripted::operation_ptr start_browse(const std::string& name = "", bool reconfirm = false) {
        browser = client->browse(name, "_http._tcp", "_ravenna", listener, reconfirm);
        EXPECT_NE(nullptr, browser);
        return scripted::wait_for("DNSServiceBrowse");
    }
    scripted::operation_ptr appear(const scripted::operation_ptr& browse, const char* name,
                                   std::size_t nth = 1) {
        browsed(browse, kDNSServiceFlagsAdd, name);
        return scripted::wait_for("DNSServiceResolve", nth);
    }
    scripted::operation_ptr query_of(const scripted::operation_ptr& resolve, std::size_t nth = 1) {
        resolved(resolve, "Studio\\.A._http._tcp.local.");
        return scripted::wait_for("DNSServiceQueryRecord", nth);
    }

    std::shared_ptr<recording_listener> listener = std::make_shared<recording_listener>();
    std::shared_ptr<zeroconf::client> client = zeroconf::create_client(3);
    std::shared_ptr<zeroconf::browser> browser;

private:
    kv::test::StdoutCapture log_;
};

} // namespace zeroconf_test
