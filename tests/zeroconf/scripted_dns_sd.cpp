#include "scripted_dns_sd.h"

#include <arpa/inet.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <utility>

namespace scripted {
namespace {

// The provider's side of an operation; the DNSServiceRef handed out points at it. Records live
// until reset(), so a reference used after its release is seen, not crashed on.
struct record {
    std::shared_ptr<operation> op;
    int fd = -1;
    int reported_fd = -1;
    std::deque<reply> pending;
    bool released = false;
    int processed = 0;
    int batch = 1;
};

struct provider {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::unique_ptr<record>> records;
    std::map<std::string, DNSServiceErrorType> failures;
    std::vector<reconfirm_call> reconfirms;
    std::vector<std::string> misuses;
    std::size_t socket_queries = 0;
    bool hold = false;
    bool held = false;
} the;

record* from(DNSServiceRef ref) {
    return reinterpret_cast<record*>(ref);
}

record* find(const operation_ptr& op) {
    for (auto& r : the.records) {
        if (r->op == op) {
            return r.get();
        }
    }
    return nullptr;
}

std::optional<std::string> text(const char* value) {
    return value != nullptr ? std::optional<std::string>(value) : std::nullopt;
}

const char* c_text(const std::optional<std::string>& value) {
    return value ? value->c_str() : nullptr;
}

template <typename Predicate>
bool wait(Predicate predicate) {
    std::unique_lock<std::mutex> lock(the.mutex);
    return the.changed.wait_for(lock, std::chrono::seconds(20), predicate);
}

template <typename Change>
void locked(Change change) {
    std::lock_guard<std::mutex> lock(the.mutex);
    change();
}

DNSServiceErrorType start(DNSServiceRef* sdRef, const char* function, DNSServiceFlags flags,
                          std::uint32_t interface_index, const char* name, const char* regtype,
                          const char* domain, void* callback, void* context,
                          const std::function<void(operation&)>& more = {}) {
    std::lock_guard<std::mutex> lock(the.mutex);
    auto failure = the.failures.find(function);
    if (failure != the.failures.end()) {
        const DNSServiceErrorType error = failure->second;
        the.failures.erase(failure);
        return error;
    }
#ifdef SCRIPTED_AS_AVAHI
    if (flags != 0) {
        the.misuses.push_back(std::string(function) + " with refused flags");
        return kDNSServiceErr_Unsupported;
    }
#endif
    auto r = std::make_unique<record>();
    r->op = std::make_shared<operation>();
    *r->op = {function, flags, interface_index, text(name), text(regtype), text(domain), "", 0, 0,
              0,        0,     callback,        context};
    if (more) {
        more(*r->op);
    }
    r->fd = ::eventfd(0, EFD_CLOEXEC | EFD_SEMAPHORE | EFD_NONBLOCK);
    r->reported_fd = r->fd;
    *sdRef = reinterpret_cast<DNSServiceRef>(r.get());
    the.records.push_back(std::move(r));
    the.changed.notify_all();
    return kDNSServiceErr_NoError;
}

} // namespace

void reset() {
    locked([] {
        for (auto& r : the.records) {
            ::close(r->fd);
        }
        the.records.clear();
        the.failures.clear();
        the.reconfirms.clear();
        the.misuses.clear();
    });
}

operation_ptr wait_for(const std::string& function, std::size_t nth) {
    operation_ptr found;
    wait([&] {
        std::size_t seen = 0;
        for (auto& r : the.records) {
            if (r->op->function == function && ++seen == nth) {
                found = r->op;
            }
        }
        return found != nullptr;
    });
    return found;
}

std::size_t started(const std::string& function) {
    std::size_t count = 0;
    locked([&] {
        for (auto& r : the.records) {
            count += r->op->function == function ? 1 : 0;
        }
    });
    return count;
}

void fail_next(const std::string& function, DNSServiceErrorType error) {
    locked([&] { the.failures[function] = error; });
}

int provider_socket(const operation_ptr& op) {
    int fd = -1;
    locked([&] { fd = find(op)->fd; });
    return fd;
}

void set_socket(const operation_ptr& op, int fd) {
    locked([&] { find(op)->reported_fd = fd; });
}

void post(const operation_ptr& op, reply run) {
    locked([&] {
        record* r = find(op);
        if (r->released) {
            the.misuses.push_back("reply queued for a released " + op->function);
            return;
        }
        r->pending.push_back(std::move(run));
        const std::uint64_t one = 1;
        (void)!::write(r->fd, &one, sizeof(one));
    });
}

void browse_reply(const operation_ptr& op, DNSServiceFlags flags, std::uint32_t interface_index,
                  DNSServiceErrorType error, const char* name, const char* regtype,
                  const char* domain) {
    post(op, [=, name = text(name), regtype = text(regtype),
              domain = text(domain)](DNSServiceRef ref) {
        reinterpret_cast<DNSServiceBrowseReply>(op->callback)(ref, flags, interface_index, error,
                                                              c_text(name), c_text(regtype),
                                                              c_text(domain), op->context);
        return kDNSServiceErr_NoError;
    });
}

void resolve_reply(const operation_ptr& op, DNSServiceFlags flags, std::uint32_t interface_index,
                   DNSServiceErrorType error, const char* fullname, const char* hosttarget,
                   std::uint16_t host_port, const std::string& txt) {
    post(op, [=, fullname = text(fullname), hosttarget = text(hosttarget)](DNSServiceRef ref) {
        reinterpret_cast<DNSServiceResolveReply>(op->callback)(
            ref, flags, interface_index, error, c_text(fullname), c_text(hosttarget),
            htons(host_port), static_cast<std::uint16_t>(txt.size()),
            reinterpret_cast<const unsigned char*>(txt.data()), op->context);
        return kDNSServiceErr_NoError;
    });
}

void query_reply(const operation_ptr& op, DNSServiceFlags flags, std::uint32_t interface_index,
                 DNSServiceErrorType error, const char* fullname, std::uint16_t rrtype,
                 const std::string& rdata) {
    post(op, [=, fullname = text(fullname)](DNSServiceRef ref) {
        reinterpret_cast<DNSServiceQueryRecordReply>(op->callback)(
            ref, flags, interface_index, error, c_text(fullname), rrtype, kDNSServiceClass_IN,
            static_cast<std::uint16_t>(rdata.size()), rdata.data(), 120, op->context);
        return kDNSServiceErr_NoError;
    });
}

void batch_next(const operation_ptr& op, int replies) {
    locked([&] { find(op)->batch = replies; });
}

bool wait_processed(const operation_ptr& op, int count) {
    return wait([&] { return find(op)->processed >= count; });
}

bool wait_released(const operation_ptr& op) {
    return wait([&] { return find(op)->released; });
}

bool released(const operation_ptr& op) {
    bool result = false;
    locked([&] { result = find(op)->released; });
    return result;
}

bool wait_socket_queries(std::size_t more) {
    std::size_t target = 0;
    locked([&] { target = the.socket_queries + more; });
    return wait([&] { return the.socket_queries >= target; });
}

void hold_poll() {
    locked([] { the.hold = true; });
}

bool wait_poll_held() {
    return wait([] { return the.held; });
}

void release_poll() {
    locked([] { the.hold = false; });
    the.changed.notify_all();
}

std::vector<reconfirm_call> reconfirm_calls() {
    std::vector<reconfirm_call> calls;
    locked([&] { calls = the.reconfirms; });
    return calls;
}

std::vector<std::string> misuses() {
    std::vector<std::string> calls;
    locked([&] { calls = the.misuses; });
    return calls;
}

bool wait_all_released() {
    return wait([] {
        for (auto& r : the.records) {
            if (!r->released) {
                return false;
            }
        }
        return true;
    });
}

} // namespace scripted

using scripted::from;
using scripted::the;

extern "C" {

#ifdef SCRIPTED_AS_AVAHI
__attribute__((visibility("default"))) void avahi_warn_unsupported(const char*) {}
#endif

int DNSServiceRefSockFD(DNSServiceRef sdRef) {
    std::unique_lock<std::mutex> lock(the.mutex);
    if (the.hold) {
        the.held = true;
        the.changed.notify_all();
        the.changed.wait(lock, [] { return !the.hold; });
        the.held = false;
    }
    ++the.socket_queries;
    the.changed.notify_all();
    if (from(sdRef)->released) {
        the.misuses.push_back("DNSServiceRefSockFD on a released " + from(sdRef)->op->function);
        return -1;
    }
    return from(sdRef)->reported_fd;
}

DNSServiceErrorType DNSServiceProcessResult(DNSServiceRef sdRef) {
    scripted::record* r = from(sdRef);
    std::unique_lock<std::mutex> lock(the.mutex);
    if (r->released || r->pending.empty()) {
        the.misuses.push_back("DNSServiceProcessResult without a reply on " + r->op->function);
        return kDNSServiceErr_BadState;
    }
    DNSServiceErrorType result = kDNSServiceErr_NoError;
    for (int left = std::exchange(r->batch, 1);
         left > 0 && !r->released && !r->pending.empty() && result == kDNSServiceErr_NoError;
         --left) {
        scripted::reply run = std::move(r->pending.front());
        r->pending.pop_front();
        std::uint64_t one = 0;
        (void)!::read(r->fd, &one, sizeof(one));
        lock.unlock();
        // The reply may release this very reference, as real providers allow.
        result = run(sdRef);
        lock.lock();
    }
    ++r->processed;
    the.changed.notify_all();
    return result;
}

void DNSServiceRefDeallocate(DNSServiceRef sdRef) {
    std::lock_guard<std::mutex> lock(the.mutex);
    if (std::exchange(from(sdRef)->released, true)) {
        the.misuses.push_back("DNSServiceRefDeallocate twice on " + from(sdRef)->op->function);
    }
    the.changed.notify_all();
}

DNSServiceErrorType DNSServiceRegister(DNSServiceRef* sdRef, DNSServiceFlags flags,
                                       uint32_t interfaceIndex, const char* name,
                                       const char* regtype, const char* domain, const char*,
                                       uint16_t port, uint16_t txtLen, const void* txtRecord,
                                       DNSServiceRegisterReply callBack, void* context) {
    return scripted::start(sdRef, "DNSServiceRegister", flags, interfaceIndex, name, regtype,
                           domain, reinterpret_cast<void*>(callBack), context,
                           [&](scripted::operation& op) {
                               op.network_port = port;
                               if (txtRecord != nullptr) {
                                   op.txt.assign(static_cast<const char*>(txtRecord), txtLen);
                               }
                           });
}

DNSServiceErrorType DNSServiceBrowse(DNSServiceRef* sdRef, DNSServiceFlags flags,
                                     uint32_t interfaceIndex, const char* regtype,
                                     const char* domain, DNSServiceBrowseReply callBack,
                                     void* context) {
    return scripted::start(sdRef, "DNSServiceBrowse", flags, interfaceIndex, nullptr, regtype,
                           domain, reinterpret_cast<void*>(callBack), context);
}

DNSServiceErrorType DNSServiceResolve(DNSServiceRef* sdRef, DNSServiceFlags flags,
                                      uint32_t interfaceIndex, const char* name,
                                      const char* regtype, const char* domain,
                                      DNSServiceResolveReply callBack, void* context) {
    return scripted::start(sdRef, "DNSServiceResolve", flags, interfaceIndex, name, regtype, domain,
                           reinterpret_cast<void*>(callBack), context);
}

DNSServiceErrorType DNSServiceQueryRecord(DNSServiceRef* sdRef, DNSServiceFlags flags,
                                          uint32_t interfaceIndex, const char* fullname,
                                          uint16_t rrtype, uint16_t rrclass,
                                          DNSServiceQueryRecordReply callBack, void* context) {
    return scripted::start(sdRef, "DNSServiceQueryRecord", flags, interfaceIndex, fullname, nullptr,
                           nullptr, reinterpret_cast<void*>(callBack), context,
                           [&](scripted::operation& op) {
                               op.rrtype = rrtype;
                               op.rrclass = rrclass;
                           });
}

DNSServiceErrorType DNSServiceReconfirmRecord(DNSServiceFlags flags, uint32_t interfaceIndex,
                                              const char* fullname, uint16_t rrtype,
                                              uint16_t rrclass, uint16_t rdlen, const void* rdata) {
    std::lock_guard<std::mutex> lock(the.mutex);
#ifdef SCRIPTED_AS_AVAHI
    the.misuses.push_back("DNSServiceReconfirmRecord, which Avahi refuses");
#endif
    the.reconfirms.push_back({flags, interfaceIndex, fullname, rrtype, rrclass,
                              std::string(static_cast<const char*>(rdata), rdlen)});
    return kDNSServiceErr_NoError;
}

#ifndef SCRIPTED_AS_AVAHI
DNSServiceErrorType DNSServiceGetAddrInfo(DNSServiceRef* sdRef, DNSServiceFlags flags,
                                          uint32_t interfaceIndex, uint32_t protocol,
                                          const char* hostname, void* callBack, void* context) {
    return scripted::start(sdRef, "DNSServiceGetAddrInfo", flags, interfaceIndex, hostname, nullptr,
                           nullptr, callBack, context,
                           [&](scripted::operation& op) { op.protocol = protocol; });
}
#endif

} // extern "C"
