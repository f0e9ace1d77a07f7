#pragma once

#include "core/Core.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace kv::portal {

// A first-in first-out queue of products with a worker thread that starts when work arrives
// and ends when the queue runs dry. The front entry stays queued while it is processed.
class Core::DequeProcess {
public:
    DequeProcess(Core& core, const char* name);
    virtual ~DequeProcess();
    DequeProcess(const DequeProcess&) = delete;
    DequeProcess& operator=(const DequeProcess&) = delete;

    void enqueue(const ProductPtr& product);
    ProductPtr find(const std::string& name) const;
    bool remove(const std::string& name);
    // Returns what was queued.
    std::deque<ProductPtr> clear();
    // Read without the lock, for the interface's busy checks.
    bool empty() const { return size_ == 0; }
    // The product being worked on, or null when the queue is empty.
    ProductPtr front() const {
        std::lock_guard<std::recursive_mutex> guard(lock_);
        return queue_.empty() ? nullptr : queue_.front();
    }
    // Empties the queue and joins the worker; a job in progress runs to its end first.
    void stop();
    // Whether a worker is at work, its queue empty or not.
    bool working() const {
        std::lock_guard<std::recursive_mutex> guard(lock_);
        return workerActive_;
    }
    // True once the worker has run dry, false when the deadline came first.
    bool waitUntilIdle(std::chrono::steady_clock::time_point deadline);

    // Guards the queue and the worker; the core holds both queues' locks while it decides
    // whether a leaving product must wait for its job.
    std::recursive_mutex& lock() const { return lock_; }

protected:
    virtual void process(const ProductPtr& product) = 0;
    virtual void done(const ProductPtr& product) = 0;
    virtual void finished() = 0;

    Core& core_;

private:
    void run();

    const char* const name_;
    std::unique_ptr<std::thread> worker_;
    // Cleared by the worker, under the lock, once it has decided to end: from then on it
    // never takes the lock again, so an enqueue may join it while holding the lock.
    bool workerActive_ = false;
    std::condition_variable_any ranDry_;
    std::deque<ProductPtr> queue_;
    std::atomic<size_t> size_{0};
    mutable std::recursive_mutex lock_;
};

class DownloadQueue;
class UpdateQueue;

// The download worker: each product's download step, then its removal if it left meanwhile.
class Core::DownloadProcess : public Core::DequeProcess {
public:
    DownloadProcess(Core& core, DownloadQueue& downloads)
        : DequeProcess(core, "download"), downloads_(downloads) {}

protected:
    void process(const ProductPtr& product) override;
    void done(const ProductPtr& product) override;
    void finished() override {}

private:
    DownloadQueue& downloads_;
};

class Core::UpdateProcess : public Core::DequeProcess {
public:
    UpdateProcess(Core& core, UpdateQueue& updates)
        : DequeProcess(core, "update"), updates_(updates) {}

protected:
    void process(const ProductPtr& product) override;
    void done(const ProductPtr& product) override;
    void finished() override {}

private:
    UpdateQueue& updates_;
};

// Devices that were told to reboot after an update, one at a time: each is awaited back, for a
// bounded time, and then shows a status worked out from what it reports.
class Core::RebootProcess : public Core::DequeProcess {
public:
    RebootProcess(Core& core, UpdateQueue& updates)
        : DequeProcess(core, "reboot"), updates_(updates) {}

protected:
    void process(const ProductPtr& product) override;
    void done(const ProductPtr&) override {}
    void finished() override {}

private:
    UpdateQueue& updates_;
};

} // namespace kv::portal
