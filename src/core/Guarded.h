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

    // Replaces the value only while it still equals `expected`.
    bool compareAndSet(const T& expected, T value) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!(value_ == expected)) {
            return false;
        }
        value_ = std::move(value);
        return true;
    }

private:
    mutable std::mutex mutex_;
    T value_{};
};

} // namespace kv::portal
