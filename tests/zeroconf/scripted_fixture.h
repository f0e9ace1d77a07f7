#pragma once

#include "StdoutCapture.h"
#include "scripted_dns_sd.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>

namespace zeroconf_test {

// Each test starts with a fresh scripted provider and the log captured, and must end with every
// DNS-SD reference released and no call the provider would refuse: checked once the derived
// fixture's discovery objects are gone.
class ScriptedTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Without it the discovery library has loaded the system's provider.
        ASSERT_NE(nullptr, std::getenv("KVPORTAL_DNSSD_LIBRARY")) << "run through ctest";
        scripted::reset();
    }

    ~ScriptedTest() override {
        EXPECT_TRUE(scripted::wait_all_released()) << "references left unreleased";
        for (const auto& misuse : scripted::misuses()) {
            ADD_FAILURE() << misuse;
        }
        const std::string text = log_->text();
        log_.reset();
        if (HasFailure()) {
            std::cout << "Output of the failed test:\n" << text;
        }
        scripted::reset();
    }

    bool logged(const std::string& line) const {
        return log_->text().find("zeroconf_category: " + line) != std::string::npos;
    }

    std::string log() const { return log_->text(); }

private:
    std::unique_ptr<kv::test::StdoutCapture> log_ = std::make_unique<kv::test::StdoutCapture>();
};

} // namespace zeroconf_test
