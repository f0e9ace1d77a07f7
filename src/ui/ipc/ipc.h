#pragma once

#include "platform/SessionBlock.h"

#include <QObject>
#include <QTimer>

#include <cstdint>

namespace kv::portal {

// Keeps one KVPortal running per user session. Every process counts itself in the shared block
// "SM_KVPortal", which lives in the user's runtime folder where no other user can reach it; a
// later process that finds another one leaves a raise request, which the running one picks up
// within a second and answers with `signalSetWindowForeground`.
class ipc : public QObject {
    Q_OBJECT

public:
    // The 8-byte shared block; every access holds the block's lock.
    struct Block {
        uint32_t instanceCount;
        uint8_t raiseRequest;
        uint8_t reserved[3];
    };
    static_assert(sizeof(Block) == 8, "the block is shared with other processes");

    // The process's one instance, which counts itself in the block on first use. Create it on
    // the interface thread once the application object exists; it lives until process exit.
    static ipc& instance();

    bool lock();
    bool unlock();
    // The block while attached, else null.
    Block* data();

    // When another instance was counted already as this process counted itself, leaves the
    // raise request for it and returns true: this process should end. The answer was fixed
    // under the lock together with the count, so of two simultaneous starts exactly one runs.
    bool raiseOtherInstance();

signals:
    void signalSetWindowForeground();

private:
    ipc();
    ~ipc() override;

    void countSelf();
    void poll();

    platform::SessionBlock block_;
    QTimer timer_;
    bool otherInstance_ = false;
};

} // namespace kv::portal
