#pragma once

#include <dns_sd.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

namespace zeroconf {

class dns_service;

// The state a client shares with its poll thread. The thread holds it too, so that the loop can
// finish its cycle after the client was destroyed on the poll thread itself.
class poll_state {
public:
    // Guards services, retired and the sd_ref_ of every operation in services. Recursive: a
    // thread that holds it may drop the last reference of an operation, whose destructor takes
    // it again.
    std::recursive_mutex mutex;
    std::vector<std::weak_ptr<dns_service>> services;
    // References that left the poll set, deallocated by the poll thread at the top of its next
    // cycle, and when it ends.
    std::vector<DNSServiceRef> retired;
    // Operations that the DNS-SD service ended, which the poll thread asks to recover at the top
    // of every cycle until they say they have.
    std::vector<std::weak_ptr<dns_service>> recovering;
    // Set while operations are recovering from an outage of the DNS-SD service, so that the
    // outage is logged once.
    bool service_away = false;

    bool stopping() const { return stop_.load(); }
    void request_stop();
    // Ends a sleep early, so that the first operation of an idle thread joins the set at once.
    void operation_added();
    // Waits up to 100 ms; returns early when stop is requested or an operation was added.
    void sleep();

private:
    std::atomic<bool> stop_{false};
    std::mutex sleep_mutex_;
    std::condition_variable wake_;
    // Guarded by sleep_mutex_.
    bool added_ = false;
};

// Waits on the sockets of all operations in services and dispatches their replies until stop.
void run_poll_loop(const std::shared_ptr<poll_state>& state);

} // namespace zeroconf
