#pragma once

#include <mutex>
#include <utility>

namespace kv::portal {

// A value that several threads read and replace whole; readers get a copy.
template <typename T>
class Guarded {
public:
    Guarded() = default;
    explicit Guarded(T value) : value_(std::move(value)) {}
    Guarded(const Guarded&) = delete;
    Guarded& operator=(const Guarded&) = delete;

    T get() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return value_;
    }

    void set(T value) {
        std::lock_guard<std::mutex> lock(mutex_);
        value_ = std::move(value);
    }

private:
    mutable std::mutex mutex_;
    T value_{};
};

} // namespace kv::portal
