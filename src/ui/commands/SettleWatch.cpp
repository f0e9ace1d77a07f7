#include "ui/commands/SettleWatch.h"

#include "core/Status.h"

#include <QDateTime>

namespace kv::portal {

namespace {

// Discovery counts as quiet once no device came or went for this long.
constexpr int64_t kQuietMs = 2000;

int64_t nowMs() {
    return QDateTime::currentMSecsSinceEpoch();
}

bool everyProductEvaluated(Core* core) {
    bool evaluated = true;
    core->forEachProduct([&](const ProductPtr& product) {
        evaluated = isSettledStatus(product->status) || isErrorStatus(product->status);
        return evaluated;
    });
    return evaluated;
}

} // namespace

SettleWatch::SettleWatch() : lastChangeMs_(nowMs()) {}

void SettleWatch::changed() {
    lastChangeMs_ = nowMs();
}

void SettleWatch::syncStarted() {
    syncing_ = true;
    changed();
}

void SettleWatch::syncFinished(Core* core, const std::string& message) {
    // A failed fetch still reads the catalogue when its local copy stands in.
    catalogueRead_ = message.empty() || core->usingLocalFile();
    syncing_ = false;
    ++syncsFinished_;
    changed();
}

bool SettleWatch::settled(Core* core) const {
    return syncsFinished_ > 0 && !syncing_ && nowMs() - lastChangeMs_ >= kQuietMs &&
           (!catalogueRead_ || everyProductEvaluated(core));
}

} // namespace kv::portal
