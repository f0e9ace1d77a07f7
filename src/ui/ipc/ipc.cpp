#include "ui/ipc/ipc.h"

#include "ru_rod.h"

#include <algorithm>

namespace kv::portal {
namespace {

constexpr int kPollIntervalMs = 1000;

} // namespace

ipc& ipc::instance() {
    static ipc single;
    return single;
}

ipc::ipc() : block_("SM_KVPortal", sizeof(Block)) {
    if (!block_.isAttached()) {
        KV_LOG(4, "Running without the single-instance check: %s\n", block_.failure().c_str());
    }
    countSelf();
    connect(&timer_, &QTimer::timeout, this, &ipc::poll);
    timer_.start(kPollIntervalMs);
}

ipc::~ipc() {
    timer_.stop();
    if (lock()) {
        Block* block = data();
        if (block->instanceCount > 0) {
            --block->instanceCount;
        }
        unlock();
    }
}

bool ipc::lock() {
    return block_.lock();
}

bool ipc::unlock() {
    return block_.unlock();
}

ipc::Block* ipc::data() {
    return static_cast<Block*>(block_.data());
}

bool ipc::raiseOtherInstance() {
    if (!otherInstance_) {
        return false;
    }
    if (lock()) {
        data()->raiseRequest = 1;
        unlock();
    }
    return true;
}

// Counting and looking for others are one step under the lock, so that every process holding
// the block has counted itself. A killed process never took itself out of the count, but the
// system let go of its hold.
void ipc::countSelf() {
    if (!lock()) {
        return;
    }
    Block* block = data();
    uint32_t others = 0;
    if (block_.joinAndFindOthers()) {
        others = std::max<uint32_t>(block->instanceCount, 1);
    } else {
        // A request left for an instance that is gone would raise this one for nothing.
        block->raiseRequest = 0;
    }
    otherInstance_ = others > 0;
    block->instanceCount = others + 1;
    unlock();
}

void ipc::poll() {
    if (!lock()) {
        return;
    }
    Block* block = data();
    if (block->raiseRequest != 0) {
        emit signalSetWindowForeground();
        block->raiseRequest = 0;
    }
    unlock();
}

} // namespace kv::portal
