#include "poll_thread.h"

#include "dns_sd_binding.h"
#include "dns_service.h"
#include "log.h"

#include <sys/select.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <exception>
#include <utility>

namespace zeroconf {
namespace {

constexpr long kWaitMicroseconds = 100000;

using operation_list = std::vector<std::weak_ptr<dns_service>>;

void release_retired(poll_state& state) {
    std::vector<DNSServiceRef> retired;
    {
        std::lock_guard<std::recursive_mutex> lock(state.mutex);
        retired.swap(state.retired);
    }
    for (DNSServiceRef ref : retired) {
        binding::DNSServiceRefDeallocate(ref);
    }
}

// Collects the sockets of all live operations. The references it takes are returned in kept, so
// that they are dropped after the mutex is released.
int collect_sockets(poll_state& state, fd_set& read_set,
                    std::vector<std::shared_ptr<dns_service>>& kept) {
    int highest = -1;
    std::lock_guard<std::recursive_mutex> lock(state.mutex);
    for (const auto& entry : state.services) {
        std::shared_ptr<dns_service> operation = entry.lock();
        if (!operation) {
            continue;
        }
        const int fd =
            operation->sd_ref_ != nullptr ? binding::DNSServiceRefSockFD(operation->sd_ref_) : -1;
        if (fd < 0 || operation->sd_ref_ == nullptr) {
            ZEROCONF_LOG(3, "Invalid file descriptor or sd_ref_; fd = %i; sd_ref_ = %p\n", fd,
                         static_cast<void*>(operation->sd_ref_));
            continue;
        }
        if (socket_beyond_select(fd)) {
            ZEROCONF_LOG(3, "fdset too small\n");
            continue;
        }
        FD_SET(fd, &read_set);
        highest = std::max(highest, fd);
        kept.push_back(std::move(operation));
    }
    return highest;
}

// Sorts the live operations into those whose socket select() found readable and the others.
void sort_ready(poll_state& state, const fd_set& read_set, int ready_count, operation_list& ready,
                operation_list& idle, std::vector<std::shared_ptr<dns_service>>& kept) {
    std::lock_guard<std::recursive_mutex> lock(state.mutex);
    try {
        for (const auto& entry : state.services) {
            std::shared_ptr<dns_service> operation = entry.lock();
            if (!operation) {
                continue;
            }
            const int fd = operation->sd_ref_ != nullptr
                               ? binding::DNSServiceRefSockFD(operation->sd_ref_)
                               : -1;
            if (ready_count > 0 && fd >= 0 && !socket_beyond_select(fd) &&
                FD_ISSET(fd, &read_set)) {
                ready.push_back(entry);
                --ready_count;
            } else {
                idle.push_back(entry);
            }
            kept.push_back(std::move(operation));
        }
    } catch (const std::exception&) {
        ZEROCONF_LOG(3, "exception in DNSServiceRefSockFD.2\n");
    }
}

void dispatch(poll_state& state, const std::weak_ptr<dns_service>& entry) {
    const std::shared_ptr<dns_service> operation = entry.lock();
    if (!operation) {
        ZEROCONF_LOG(4, "dns_service has been destroyed\n");
        return;
    }
    DNSServiceRef ref = nullptr;
    {
        std::lock_guard<std::recursive_mutex> lock(state.mutex);
        ref = operation->sd_ref_;
    }
    if (ref == nullptr) {
        // Removed by its owner since the wait.
        return;
    }
    const DNSServiceErrorType result = binding::DNSServiceProcessResult(ref);
    if (result != kDNSServiceErr_NoError) {
        ZEROCONF_LOG(result == kDNSServiceErr_BadParam ? 8 : 3,
                     "DNSServiceProcessResult returned %d\n", result);
    }
}

void run_idle_checks(const operation_list& idle) {
    for (const auto& entry : idle) {
        const std::shared_ptr<dns_service> operation = entry.lock();
        if (operation && operation->context && operation->on_idle) {
            operation->on_idle(*operation);
        }
    }
}

void run_recoveries(poll_state& state) {
    operation_list recovering;
    {
        std::lock_guard<std::recursive_mutex> lock(state.mutex);
        recovering.swap(state.recovering);
    }
    operation_list unfinished;
    for (const auto& entry : recovering) {
        const std::shared_ptr<dns_service> operation = entry.lock();
        if (operation && operation->on_recover && !operation->on_recover(*operation)) {
            unfinished.push_back(entry);
        }
    }
    std::lock_guard<std::recursive_mutex> lock(state.mutex);
    state.recovering.insert(state.recovering.end(), unfinished.begin(), unfinished.end());
}

void run_cycle(poll_state& state) {
    release_retired(state);
    run_recoveries(state);

    fd_set read_set;
    FD_ZERO(&read_set);
    std::vector<std::shared_ptr<dns_service>> kept;
    const int highest = collect_sockets(state, read_set, kept);
    // Dropped before the wait, so that an operation its owner has let go ends now. Ended on this
    // thread, it has closed its socket at once: the set is made again.
    const operation_list watched(kept.begin(), kept.end());
    kept.clear();
    if (std::any_of(watched.begin(), watched.end(),
                    [](const auto& entry) { return entry.expired(); })) {
        return;
    }
    if (highest < 0) {
        state.sleep();
        return;
    }

    timeval timeout{0, kWaitMicroseconds};
    const int result = ::select(highest + 1, &read_set, nullptr, nullptr, &timeout);
    const int error = errno;
    if (state.stopping()) {
        return;
    }
    if (result < 0) {
        const char* message = std::strerror(error);
        ZEROCONF_LOG(3, "select() returned %d errno %d %s\n", result, error,
                     message != nullptr ? message : "Unable to find error message");
        return;
    }

    operation_list ready;
    operation_list idle;
    sort_ready(state, read_set, result, ready, idle, kept);
    kept.clear();
    for (const auto& entry : ready) {
        dispatch(state, entry);
    }
    // A cycle without any data counts as idle for every operation, so a resolve left incomplete
    // on a quiet network still times out.
    run_idle_checks(idle);
}

} // namespace

void poll_state::request_stop() {
    {
        std::lock_guard<std::mutex> lock(sleep_mutex_);
        stop_.store(true);
    }
    wake_.notify_all();
}

void poll_state::operation_added() {
    {
        std::lock_guard<std::mutex> lock(sleep_mutex_);
        added_ = true;
    }
    wake_.notify_all();
}

void poll_state::sleep() {
    std::unique_lock<std::mutex> lock(sleep_mutex_);
    wake_.wait_for(lock, std::chrono::microseconds(kWaitMicroseconds),
                   [this] { return stop_.load() || added_; });
    added_ = false;
}

void run_poll_loop(const std::shared_ptr<poll_state>& state) {
    while (!state->stopping()) {
        run_cycle(*state);
    }
    release_retired(*state);
}

} // namespace zeroconf
