// Linked into every program of a ThreadSanitizer build. Qt is not instrumented (its locks are
// futexes), so the sanitizer cannot see that a signal emission hands over all its thread did up to
// then, and that every event delivery takes it over: this tells it.

#include <QObject>
#include <QtGlobal>

#include <sanitizer/tsan_interface.h>

#include <atomic>
#include <chrono>
#include <thread>

// Qt's hook for signal spies (QTest uses it too), declared as Qt 5.15 exports it.
struct QSignalSpyCallbackSet {
    using BeginCallback = void (*)(QObject* caller, int signalOrMethodIndex, void** argv);
    using EndCallback = void (*)(QObject* caller, int signalOrMethodIndex);
    BeginCallback signal_begin_callback;
    BeginCallback slot_begin_callback;
    EndCallback signal_end_callback;
    EndCallback slot_end_callback;
};
Q_CORE_EXPORT void qt_register_signal_spy_callbacks(QSignalSpyCallbackSet* callbackSet);

namespace {

char handOverToken;
std::atomic<int> emissions{0};
thread_local int emissionsHere = 0;

void signalBegins(QObject*, int, void**) {
    __tsan_release(&handOverToken);
    ++emissionsHere;
    ++emissions;
}

void signalEnds(QObject*, int) {
    __tsan_release(&handOverToken);
    --emissionsHere;
    --emissions;
}

bool eventArrives(void**) {
    // An emission on another thread may have posted this event and not yet handed over the
    // arguments it copied into it: give it a moment to finish. Bounded, because that emission
    // may itself be waiting for this thread.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(20);
    while (emissions.load() > emissionsHere && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::yield();
    }
    __tsan_acquire(&handOverToken);
    return false;
}

QSignalSpyCallbackSet callbacks{signalBegins, nullptr, signalEnds, nullptr};

struct Install {
    Install() {
        qt_register_signal_spy_callbacks(&callbacks);
        QInternal::registerCallback(QInternal::EventNotifyCallback, eventArrives);
    }
} install;

} // namespace
