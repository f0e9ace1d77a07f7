#include "CoreTestEnvironment.h"
#include "StdoutCapture.h"
#include "core/Core.h"
#include "core/workers/DequeProcess.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace kv::portal;
using namespace std::chrono_literals;

namespace {

// A queue whose work is a test's: it records what it processed and on which thread, and can
// hold a job until the test lets it go.
class RecordingQueue : public Core::DequeProcess {
public:
    explicit RecordingQueue(Core& core) : DequeProcess(core, "test") {}
    ~RecordingQueue() override { stop(); }

    std::function<void(const ProductPtr&)> onProcess;
    std::function<void(const ProductPtr&)> onDone;
    std::function<void()> onFinished;

    std::vector<std::string> processed() {
        std::lock_guard<std::mutex> lock(mutex_);
        return processed_;
    }
    std::vector<std::thread::id> threads() {
        std::lock_guard<std::mutex> lock(mutex_);
        return threads_;
    }
    bool waitForProcessed(size_t count) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, 30s, [&] { return processed_.size() >= count; });
    }

protected:
    void process(const ProductPtr& product) override {
        if (onProcess) {
            onProcess(product);
        }
        std::lock_guard<std::mutex> lock(mutex_);
        processed_.push_back(product->name);
        threads_.push_back(std::this_thread::get_id());
    }
    void done(const ProductPtr& product) override {
        if (onDone) {
            onDone(product);
        }
        changed_.notify_all();
    }
    void finished() override {
        if (onFinished) {
            onFinished();
        }
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> processed_;
    std::vector<std::thread::id> threads_;
};

// A one-shot gate a worker waits at until the test opens it.
class Gate {
public:
    void open() {
        std::lock_guard<std::mutex> lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }
    void pass() {
        std::unique_lock<std::mutex> lock(mutex_);
        reached_ = true;
        changed_.notify_all();
        changed_.wait(lock, [&] { return open_; });
    }
    bool waitReached() {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, 30s, [&] { return reached_; });
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool open_ = false;
    bool reached_ = false;
};

class WorkerQueue : public ::testing::Test {
protected:
    ProductPtr product(const std::string& name) {
        return std::make_shared<Product>(code::PELRA_FIRMWARE, name, "", Version(1, 0, 0, 0));
    }

    kv::test::CoreTestEnvironment environment;
    Core core;
};

} // namespace

// The front entry stays queued while it is processed: a second request for it, or for any
// queued name, is dropped, and removing it leaves the job behind it in place.
TEST_F(WorkerQueue, ProcessesEachNameOnceInOrderOnOneThreadAndLogsIt) {
    kv::test::StdoutCapture capture;
    Gate gate;
    RecordingQueue queue(core);
    queue.onProcess = [&](const ProductPtr& p) {
        if (p->name == "a") {
            gate.pass();
        }
    };
    queue.enqueue(product("a"));
    ASSERT_TRUE(gate.waitReached());
    queue.enqueue(product("a"));
    queue.enqueue(product("b"));
    queue.enqueue(product("b"));
    EXPECT_TRUE(queue.find("b"));
    EXPECT_FALSE(queue.find("c"));
    EXPECT_EQ(queue.front()->name, "a");
    EXPECT_TRUE(queue.remove("a"));
    EXPECT_FALSE(queue.remove("a"));
    gate.open();
    ASSERT_TRUE(queue.waitForProcessed(2));
    queue.stop();
    EXPECT_EQ((std::vector<std::string>{"a", "b"}), queue.processed());
    EXPECT_EQ(queue.threads()[0], queue.threads()[1]);
    const std::string log = capture.text();
    const size_t first = log.find("Next in test queue: PELRA-FIRMWARE a\n");
    const size_t second = log.find("Next in test queue: PELRA-FIRMWARE b\n");
    const size_t empty = log.find("The test queue is empty. Thread will exit\n");
    ASSERT_NE(std::string::npos, first);
    ASSERT_NE(std::string::npos, second);
    ASSERT_NE(std::string::npos, empty);
    EXPECT_LT(first, second);
    EXPECT_LT(second, empty);
}

TEST_F(WorkerQueue, NewWorkerStartsAfterTheLastOneEnded) {
    std::mutex mutex;
    std::condition_variable changed;
    int endedWorkers = 0;
    RecordingQueue queue(core);
    queue.onFinished = [&] {
        std::lock_guard<std::mutex> lock(mutex);
        ++endedWorkers;
        changed.notify_all();
    };
    queue.enqueue(product("a"));
    {
        std::unique_lock<std::mutex> lock(mutex);
        ASSERT_TRUE(changed.wait_for(lock, 30s, [&] { return endedWorkers == 1; }));
    }
    queue.enqueue(product("b"));
    ASSERT_TRUE(queue.waitForProcessed(2));
    queue.stop();
    EXPECT_EQ((std::vector<std::string>{"a", "b"}), queue.processed());
}

TEST_F(WorkerQueue, JobArrivingWhileTheWorkerFinishesItsLastIsTaken) {
    Gate gate;
    RecordingQueue queue(core);
    queue.onDone = [&](const ProductPtr& p) {
        if (p->name == "a") {
            gate.pass();
        }
    };
    queue.enqueue(product("a"));
    ASSERT_TRUE(gate.waitReached());
    // The queue is empty but its worker still runs: the enqueue must neither block nor lose b.
    queue.enqueue(product("b"));
    gate.open();
    ASSERT_TRUE(queue.waitForProcessed(2));
    queue.stop();
    EXPECT_EQ(queue.threads()[0], queue.threads()[1]);
}

TEST_F(WorkerQueue, JobArrivingWhileTheWorkerExitsStartsANewOne) {
    Gate gate;
    std::atomic<int> endedWorkers{0};
    RecordingQueue queue(core);
    queue.onFinished = [&] {
        ++endedWorkers;
        gate.pass();
    };
    queue.enqueue(product("a"));
    ASSERT_TRUE(gate.waitReached());
    std::thread opener([&] { gate.open(); });
    queue.enqueue(product("b"));
    opener.join();
    ASSERT_TRUE(queue.waitForProcessed(2));
    queue.stop();
    EXPECT_EQ(2, endedWorkers.load());
}

TEST_F(WorkerQueue, ManyQuickHandOversLoseNothing) {
    RecordingQueue queue(core);
    constexpr int kJobs = 400;
    for (int i = 0; i < kJobs; ++i) {
        queue.enqueue(product("job" + std::to_string(i)));
        if (i % 3 == 0) {
            std::this_thread::yield();
        }
    }
    ASSERT_TRUE(queue.waitForProcessed(kJobs));
    queue.stop();
    EXPECT_EQ(static_cast<size_t>(kJobs), queue.processed().size());
}

TEST_F(WorkerQueue, StopDropsWaitingJobsAndJoins) {
    Gate gate;
    RecordingQueue queue(core);
    queue.onProcess = [&](const ProductPtr& p) {
        if (p->name == "a") {
            gate.pass();
        }
    };
    queue.enqueue(product("a"));
    ASSERT_TRUE(gate.waitReached());
    queue.enqueue(product("b"));
    // Let a finish only once stop has dropped b.
    std::thread opener([&] {
        while (queue.find("b")) {
            std::this_thread::yield();
        }
        gate.open();
    });
    queue.stop();
    opener.join();
    EXPECT_EQ(std::vector<std::string>{"a"}, queue.processed());
    EXPECT_TRUE(queue.empty());
}
