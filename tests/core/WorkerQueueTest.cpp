#include "CoreTestEnvironment.h"
#include "StdoutCapture.h"
#include "core/Core.h"
#include "core/workers/DequeProcess.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace kv::portal;

namespace {

// A queue whose work is a test's: it records what it processed, on which thread, and how many
// workers ended. The first time its worker reaches the step named `hold` ("process", "done" or
// "finished"), it waits there until the test releases it.
class RecordingQueue : public Core::DequeProcess {
public:
    RecordingQueue(Core& core, std::string hold) : DequeProcess(core, "test"), hold_(hold) {}
    ~RecordingQueue() override { stop(); }

    bool waitUntil(const std::function<bool()>& done) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(30), done);
    }
    void release() {
        at("release", [this] { released_ = true; });
    }

    // Read under waitUntil, or once stopped.
    std::vector<std::string> processed;
    std::vector<std::thread::id> threads;
    int ended = 0;
    bool held = false;

protected:
    void process(const ProductPtr& product) override {
        at("process", [&] {
            processed.push_back(product->name);
            threads.push_back(std::this_thread::get_id());
        });
    }
    void done(const ProductPtr&) override {
        at("done", [] {});
    }
    void finished() override {
        at("finished", [this] { ++ended; });
    }

private:
    void at(const std::string& step, const std::function<void()>& record) {
        std::unique_lock<std::mutex> lock(mutex_);
        record();
        held = held || step == hold_;
        changed_.notify_all();
        changed_.wait(lock, [&] { return step != hold_ || released_; });
    }

    const std::string hold_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool released_ = false;
};

class WorkerQueue : public ::testing::Test {
protected:
    static ProductPtr product(const std::string& name) {
        return std::make_shared<Product>(code::PELRA_FIRMWARE, name, "", Version(1, 0, 0, 0));
    }

    kv::test::CoreTestEnvironment environment;
    Core core;
};

// The front entry stays queued while it is processed: a second request for it, or for any
// queued name, is dropped, and removing it leaves the job behind it in place. Stopping drops
// the jobs still waiting.
TEST_F(WorkerQueue, ProcessesEachNameOnceInOrderOnOneThreadAndLogsIt) {
    kv::test::StdoutCapture capture;
    RecordingQueue queue(core, "process");
    queue.enqueue(product("a"));
    ASSERT_TRUE(queue.waitUntil([&] { return queue.held; }));
    for (const char* name : {"a", "b", "b"}) {
        queue.enqueue(product(name));
    }
    EXPECT_TRUE(queue.find("b"));
    EXPECT_FALSE(queue.find("c"));
    EXPECT_EQ(queue.front()->name, "a");
    EXPECT_TRUE(queue.remove("a"));
    EXPECT_FALSE(queue.remove("a"));
    queue.release();
    ASSERT_TRUE(queue.waitUntil([&] { return queue.ended == 1; }));
    EXPECT_EQ(queue.processed, (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(queue.threads[0], queue.threads[1]);
    const std::string log = capture.text();
    const size_t first = log.find("Next in test queue: PELRA-FIRMWARE a\n");
    const size_t second = log.find("Next in test queue: PELRA-FIRMWARE b\n");
    const size_t empty = log.find("The test queue is empty. Thread will exit\n");
    EXPECT_LT(first, second);
    EXPECT_LT(second, empty);
    EXPECT_NE(empty, std::string::npos);

    RecordingQueue stopped(core, "process");
    stopped.enqueue(product("a"));
    ASSERT_TRUE(stopped.waitUntil([&] { return stopped.held; }));
    stopped.enqueue(product("b"));
    std::thread releaser([&] {
        while (stopped.find("b")) {
            std::this_thread::yield();
        }
        stopped.release();
    });
    stopped.stop();
    releaser.join();
    EXPECT_EQ(stopped.processed, std::vector<std::string>{"a"});
}

// A job arriving after the worker ended, while it ends, or while it finishes its last job is
// taken: by a new worker in the first two cases, by the same one in the last. Many quick
// hand-overs lose nothing.
TEST_F(WorkerQueue, JobArrivingAsTheWorkerEndsIsTaken) {
    for (const std::string hold : {"", "finished", "done"}) {
        SCOPED_TRACE(hold);
        RecordingQueue queue(core, hold);
        queue.enqueue(product("a"));
        ASSERT_TRUE(queue.waitUntil([&] { return queue.held || queue.ended == 1; }));
        // Ending, the worker waits for the release while this enqueue waits for the worker.
        std::thread releaser([&] {
            if (hold == "finished") {
                queue.release();
            }
        });
        queue.enqueue(product("b"));
        releaser.join();
        queue.release();
        const int workers = hold == "done" ? 1 : 2;
        ASSERT_TRUE(queue.waitUntil([&] { return queue.ended == workers; }));
        EXPECT_EQ(queue.processed, (std::vector<std::string>{"a", "b"}));
        EXPECT_TRUE(workers == 2 || queue.threads[0] == queue.threads[1]);
    }
    RecordingQueue queue(core, "");
    for (int i = 0; i < 400; ++i) {
        queue.enqueue(product(std::to_string(i)));
    }
    ASSERT_TRUE(queue.waitUntil([&] { return queue.processed.size() == 400; }));
}

} // namespace
