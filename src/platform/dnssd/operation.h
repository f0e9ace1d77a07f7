#pragma once

#include "event_fd.h"

#include <dns_sd.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

namespace kvdns_sd {

// One DNS-SD operation as its caller sees it: the results the dispatch thread has queued for it
// and the descriptor that is readable while there are any. Shared by the caller's reference and
// the dispatch thread; every member is safe to use from any thread.
class operation {
public:
    // One callback call, given the caller's reference and kDNSServiceFlagsMoreComing when more
    // results follow in the same delivery.
    using result = std::function<void(DNSServiceRef ref, DNSServiceFlags more_coming)>;

    // Null when no descriptor can be had.
    static std::shared_ptr<operation> create();

    int fd() const { return ready_.fd(); }

    // Queues a result unless the operation was cancelled.
    void push(result next);

    // Calls back with the results queued so far, on the calling thread; waits for one when none
    // is queued. Stops as soon as a callback cancels the operation.
    void deliver(DNSServiceRef ref);

    // Drops the queued results and every later one.
    void cancel();
    bool cancelled() const;

private:
    operation() = default;

    event_fd ready_;
    mutable std::mutex mutex_;
    std::condition_variable arrived_;
    // Guarded by mutex_.
    std::deque<result> queue_;
    bool cancelled_ = false;
};

} // namespace kvdns_sd
