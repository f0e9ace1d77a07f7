#include "ui/ipc/ipc.h"

#include "platform/FileLock.h"
#include "platform/SharedMemoryAttachments.h"

#include <QFile>

namespace kv::portal {
namespace {

constexpr int kPollIntervalMs = 1000;

// Starting and ending processes take turns under this lock, so that every process attached to
// the block has counted itself, and only a killed one can leave a count behind.
std::string turnLockPath(const QSharedMemory& sharedMemory) {
    return QFile::encodeName(sharedMemory.nativeKey() + QStringLiteral(".turn")).toStdString();
}

} // namespace

ipc& ipc::instance() {
    static ipc single;
    return single;
}

ipc::ipc() : sharedMemory_(QStringLiteral("SM_KVPortal")) {
    {
        platform::FileLock turn(turnLockPath(sharedMemory_));
        attachOrCreate();
    }
    connect(&timer_, &QTimer::timeout, this, &ipc::poll);
    timer_.start(kPollIntervalMs);
}

ipc::~ipc() {
    timer_.stop();
    platform::FileLock turn(turnLockPath(sharedMemory_));
    if (lock()) {
        Block* block = data();
        if (block->instanceCount > 0) {
            --block->instanceCount;
        }
        unlock();
    }
    sharedMemory_.detach();
}

bool ipc::lock() {
    return sharedMemory_.isAttached() && sharedMemory_.lock();
}

bool ipc::unlock() {
    return sharedMemory_.unlock();
}

ipc::Block* ipc::data() {
    return static_cast<Block*>(sharedMemory_.data());
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

void ipc::attachOrCreate() {
    if (sharedMemory_.attach()) {
        countSelf();
        return;
    }
    if (sharedMemory_.create(sizeof(Block))) {
        if (lock()) {
            data()->instanceCount = 1;
            data()->raiseRequest = 0;
            unlock();
        }
        return;
    }
    // Another process created the block between the two calls: count in it like any later one.
    if (sharedMemory_.attach()) {
        countSelf();
    }
}

void ipc::countSelf() {
    if (!lock()) {
        return;
    }
    Block* block = data();
    uint32_t others = block->instanceCount;
    // A killed process never took itself out of the count, but the system detached it.
    const int attached = platform::sharedMemoryAttachments(
        QFile::encodeName(sharedMemory_.nativeKey()).toStdString());
    if (attached > 0 && others > static_cast<uint32_t>(attached - 1)) {
        others = static_cast<uint32_t>(attached - 1);
    }
    if (others == 0) {
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
