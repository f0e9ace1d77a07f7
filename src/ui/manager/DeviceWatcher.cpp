#include "ui/manager/DeviceWatcher.h"

#include "core/Core.h"
#include "ui/manager/HeadProbe.h"
#include "ui/manager/Manager.h"

#include <algorithm>
#include <chrono>

namespace kv::portal {

namespace {
constexpr std::chrono::seconds kPassInterval{5};
} // namespace

DeviceWatcher::~DeviceWatcher() {
    stop();
}

void DeviceWatcher::add(ProductPtr product) {
    if (!product) {
        return;
    }
    {
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        const bool watched = std::any_of(items_.begin(), items_.end(), [&](const ProductPtr& item) {
            return item->name == product->name;
        });
        if (watched) {
            return;
        }
        items_.push_back(std::move(product));
    }

    std::lock_guard<std::mutex> threadLock(threadMutex_);
    {
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        if (thread_ && !loopEnded_) {
            return;
        }
        loopEnded_ = false;
    }
    if (thread_) {
        thread_->join();
    }
    thread_ = std::make_unique<std::thread>([this] { watchLoop(); });
}

std::size_t DeviceWatcher::remove(const std::string& name) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    items_.erase(std::remove_if(items_.begin(), items_.end(),
                                [&](const ProductPtr& item) { return item->name == name; }),
                 items_.end());
    return items_.size();
}

void DeviceWatcher::stop() {
    std::lock_guard<std::mutex> threadLock(threadMutex_);
    {
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        items_.clear();
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_) {
        thread_->join();
        thread_.reset();
    }
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    stopping_ = false;
    loopEnded_ = false;
}

bool DeviceWatcher::loopShouldEnd() {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (stopping_ || items_.empty()) {
        loopEnded_ = true;
        return true;
    }
    return false;
}

void DeviceWatcher::watchLoop() {
    Core* const core = owner_->core();
    while (!loopShouldEnd()) {
        std::vector<ProductPtr> snapshot;
        {
            std::lock_guard<std::recursive_mutex> lock(mutex_);
            snapshot = items_;
        }
        for (const ProductPtr& product : snapshot) {
            const bool answers = deviceAnswers(product->address.get());
            if (loopShouldEnd()) {
                return;
            }
            if (!answers) {
                core->removeProduct(product->name);
            } else if (!core->findProduct(product->name)) {
                // Rebuilding the browsers joins DNS-SD threads, which may be waiting in `stop`
                // for this one: the interface thread does it.
                owner_->requestRefresh();
            }
        }
        std::unique_lock<std::recursive_mutex> lock(mutex_);
        wake_.wait_for(lock, kPassInterval, [this] { return stopping_; });
    }
}

} // namespace kv::portal
