#include "CoreTestEnvironment.h"
#include "StdoutCapture.h"
#include "core/Core.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

using namespace kv::portal;

namespace {

// Looks products up from inside every notification, as the window and the commands do.
class LookingListener : public Core::Listener {
public:
    void productAdded(Core* core, ProductPtr product) override { look(core, product->name); }
    void productRemoved(Core* core, ProductPtr product) override { look(core, product->name); }
    void statusChanged(Core* core, const char* name) override { look(core, name); }

    std::atomic<int> calls{0};

private:
    void look(Core* core, const std::string& name) {
        core->findProduct(name);
        core->forEachProduct([](const ProductPtr&) { return true; });
        ++calls;
    }
};

} // namespace

TEST(CoreLockOrder, AnnouncingRemovingAndStatusChangesNeverDeadlock) {
    kv::test::CoreTestEnvironment environment;
    kv::test::StdoutCapture quiet;
    Core core;
    core.setIpcEnabled(true);
    LookingListener listener;
    core.addListener(&listener);

    constexpr int kRounds = 300;
    const std::vector<std::string> txt = {"vendor=Kelmora Technologies", "product=KELMORA+KORVEX",
                                          "version=1.0.0b1"};
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kRounds; ++i) {
                const std::string name = "device " + std::to_string((i + t) % 7);
                core.addDevice(name, "", txt);
                if (i % 2 == t % 2) {
                    core.removeProduct(name);
                }
            }
        });
    }
    for (int t = 0; t < 2; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kRounds; ++i) {
                const ProductPtr product = core.findProduct("device " + std::to_string(i % 7));
                core.setStatus(product, (i + t) % 2 == 0 ? Evaluate : PendingDownload);
                core.writeIpcFile();
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    core.removeListener(&listener);
    EXPECT_GT(listener.calls.load(), 0);

    // Whatever the interleaving, the list holds each name at most once.
    std::vector<std::string> names;
    core.forEachProduct([&](const ProductPtr& product) {
        names.push_back(product->name);
        return true;
    });
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names.end(), std::adjacent_find(names.begin(), names.end()));
}
