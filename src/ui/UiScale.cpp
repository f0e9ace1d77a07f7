#include "ui/UiScale.h"

#include <atomic>

namespace kv::portal {

namespace {
// Set once on the interface thread; painting code on that thread reads it, others may too.
std::atomic<float> scaleFactor{1.0f};
} // namespace

float uiScale() {
    return scaleFactor.load(std::memory_order_relaxed);
}

void setUiScale(float scale) {
    scaleFactor.store(scale, std::memory_order_relaxed);
}

int scaled(int logicalPixels) {
    return static_cast<int>(static_cast<float>(logicalPixels) * uiScale());
}

} // namespace kv::portal
