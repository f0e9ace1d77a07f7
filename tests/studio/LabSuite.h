#pragma once

#include "Lab.h"
#include "Unavailable.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

namespace kv::test {

// A test suite that shares one lab, whose avahi-daemon the DNS-SD library reaches over the lab's
// system bus. Its cases skip, saying why, where no network namespace can be made (and fail there
// under KV_LAB_REQUIRED).
class LabSuite : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        lab = Lab::start(cannot);
        if (lab != nullptr) {
            ::setenv("DBUS_SYSTEM_BUS_ADDRESS", lab->busAddress().c_str(), 1);
        }
    }

    static void TearDownTestSuite() { lab.reset(); }

    void SetUp() override {
        if (lab == nullptr) {
            return unavailable("no network namespace on this machine: " + cannot);
        }
    }

    inline static std::unique_ptr<Lab> lab;
    inline static std::string cannot;
};

} // namespace kv::test
