#include "scripted_dns_sd.h"

#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <utility>

namespace scripted {
namespace {

constexpr auto kDeadline = std::chrono::seconds(20);

using reply = std::function<DNSServiceErrorType(DNSServiceRef)>;

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
    int next_socket = -1;
    bool hold = false;
    bool held = false;
};

provider& the() {
    static provider instance;
    return instance;
}

record* from(DNSServiceRef ref) {
    return reinterpret_cast<record*>(ref);
}
DNSServiceRef to(record* r) {
    return reinterpret_cast<DNSServiceRef>(r);
}

record* find(provider& p, const operation_ptr& op) {
    for (auto& r : p.records) {
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

// An operation with what every start call gives; the caller adds what only its own gives.
std::shared_ptr<operation> made(const char* function, DNSServiceFlags flags,
                                std::uint32_t interface_index, const char* name,
                                const char* regtype, const char* domain, void* callback,
                                void* context) {
    auto op = std::make_shared<operation>();
    op->function = function;
    op->flags = flags;
    op->interface_index = interface_index;
    op->name = text(name);
    op->regtype = text(regtype);
    op->domain = text(domain);
    op->callback = callback;
    op->context = context;
    return op;
}

// Decides whether a start call goes ahead: scripted failures, and, posing as Avahi, refused flags.
DNSServiceErrorType admit(provider& p, const std::string& function, DNSServiceFlags flags) {
    auto failure = p.failures.find(function);
    if (failure != p.failures.end()) {
        const DNSServiceErrorType error = failure->second;
        p.failures.erase(failure);
        return error;
    }
#ifdef SCRIPTED_AS_AVAHI
    if (flags != 0) {
        p.misuses.push_back(function + " with refused flags " + std::to_string(flags));
        return kDNSServiceErr_Unsupported;
    }
#else
    (void)flags;
#endif
    return kDNSServiceErr_NoError;
}

DNSServiceErrorType start(DNSServiceRef* sdRef, std::shared_ptr<operation> op) {
    provider& p = the();
    std::lock_guard<std::mutex> lock(p.mutex);
    const DNSServiceErrorType error = admit(p, op->function, op->flags);
    if (error != kDNSServiceErr_NoError) {
        return error;
    }
    auto r = std::make_unique<record>();
    r->op = std::move(op);
    r->fd = ::eventfd(0, EFD_CLOEXEC | EFD_SEMAPHORE | EFD_NONBLOCK);
    r->reported_fd = p.next_socket >= 0 ? p.next_socket : r->fd;
    p.next_socket = -1;
    *sdRef = to(r.get());
    p.records.push_back(std::move(r));
    p.changed.notify_all();
    return kDNSServiceErr_NoError;
}

void post(const operation_ptr& op, reply run) {
    provider& p = the();
    std::lock_guard<std::mutex> lock(p.mutex);
    record* r = find(p, op);
    if (r == nullptr || r->released) {
        p.misuses.push_back("reply queued for a released " + op->function);
        return;
    }
    r->pending.push_back(std::move(run));
    const std::uint64_t one = 1;
    (void)!::write(r->fd, &one, sizeof(one));
}

template <typename Predicate>
bool wait(Predicate predicate) {
    provider& p = the();
    std::unique_lock<std::mutex> lock(p.mutex);
    return p.changed.wait_for(lock, kDeadline, [&] { return predicate(p); });
}

} // namespace

void reset() {
    provider& p = the();
    std::lock_guard<std::mutex> lock(p.mutex);
    for (auto& r : p.records) {
        ::close(r->fd);
    }
    p.records.clear();
    p.failures.clear();
    p.reconfirms.clear();
    p.misuses.clear();
    p.next_socket = -1;
}

operation_ptr wait_for(const std::string& function, std::size_t nth) {
    operation_ptr found;
    wait([&](provider& p) {
        std::size_t seen = 0;
        for (auto& r : p.records) {
            if (r->op->function == function && ++seen == nth) {
                found = r->op;
                return true;
            }
        }
        return false;
    });
    return found;
}

std::size_t started(const std::string& function) {
    provider& p = the();
    std::lock_guard<std::mutex> lock(p.mutex);
    std::size_t count = 0;
    for (auto& r : p.records) {
        count += r->op->function == function ? 1 : 0;
    }
    return count;
}

void fail_next(const std::string& function, DNSServiceErrorType error) {
    provider& p = the();
    std::lock_guard<std::mutex> lock(p.mutex);
    p.failures[function] = error;
}

int provider_socket(const operation_ptr& op) {
    provider& p = the();
    std::lock_guard<std::mutex> lock(p.mutex);
    record* r = find(p, op);
    return r != nullptr ? r->fd : -1;
}

void set_socket(const operation_ptr& op, int fd) {
    provider& p = the();
    std::lock_guard<std::mutex> lock(p.mutex);
    if (record* r = find(p, op)) {
        r->reported_fd = fd;
    }
}

void set_next_socket(int fd) {
    provider& p = the();
    std::lock_guard<std::mutex> lock(p.mutex);
    p.next_socket = fd;
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
        const std::uint16_t network_port =
            static_cast<std::uint16_t>((host_port >> 8) | (host_port << 8));
        reinterpret_cast<DNSServiceResolveReply>(op->callback)(
            ref, flags, interface_index, error, c_text(fullname), c_text(hosttarget), network_port,
            static_cast<std::uint16_t>(txt.size()),
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

void addr_reply(const operation_ptr& op, DNSServiceFlags flags, std::uint32_t interface_index,
                DNSServiceErrorType error, const char* hostname, const sockaddr* address,
                std::size_t address_length) {
    std::string copy;
    const bool has_address = address != nullptr;
    if (has_address) {
        copy.assign(reinterpret_cast<const char*>(address), address_length);
    }
    using addr_function =
        void (*)(DNSServiceRef, DNSServiceFlags, std::uint32_t, DNSServiceErrorType, const char*,
                 const sockaddr*, std::uint32_t, void*);
    post(op, [=, hostname = text(hostname)](DNSServiceRef ref) {
        sockaddr_storage storage{};
        std::memcpy(&storage, copy.data(), std::min(copy.size(), sizeof(storage)));
        reinterpret_cast<addr_function>(op->callback)(
            ref, flags, interface_index, error, c_text(hostname),
            has_address ? reinterpret_cast<const sockaddr*>(&storage) : nullptr, 120, op->context);
        return kDNSServiceErr_NoError;
    });
}

void register_reply(const operation_ptr& op, DNSServiceFlags flags, DNSServiceErrorType error,
                    const char* name, const char* regtype, const char* domain) {
    post(op,
         [=, name = text(name), regtype = text(regtype), domain = text(domain)](DNSServiceRef ref) {
             reinterpret_cast<DNSServiceRegisterReply>(op->callback)(
                 ref, flags, error, c_text(name), c_text(regtype), c_text(domain), op->context);
             return kDNSServiceErr_NoError;
         });
}

void process_error(const operation_ptr& op, DNSServiceErrorType error) {
    post(op, [error](DNSServiceRef) { return error; });
}

void batch_next(const operation_ptr& op, int replies) {
    provider& p = the();
    std::lock_guard<std::mutex> lock(p.mutex);
    if (record* r = find(p, op)) {
        r->batch = replies;
    }
}

bool wait_processed(const operation_ptr& op, int count) {
    return wait([&](provider& p) {
        record* r = find(p, op);
        return r != nullptr && r->processed >= count;
    });
}

bool wait_released(const operation_ptr& op) {
    return wait([&](provider& p) {
        record* r = find(p, op);
        return r != nullptr && r->released;
    });
}

bool released(const operation_ptr& op) {
    provider& p = the();
    std::lock_guard<std::mutex> lock(p.mutex);
    record* r = find(p, op);
    return r != nullptr && r->released;
}

bool wait_socket_queries(std::size_t more) {
    std::size_t target = 0;
    {
        provider& p = the();
        std::lock_guard<std::mutex> lock(p.mutex);
        target = p.socket_queries + more;
    }
    return wait([&](provider& p) { return p.socket_queries >= target; });
}

void hold_poll() {
    provider& p = the();
    std::lock_guard<std::mutex> lock(p.mutex);
    p.hold = true;
}

bool wait_poll_held() {
    return wait([](provider& p) { return p.held; });
}

void release_poll() {
    provider& p = the();
    {
        std::lock_guard<std::mutex> lock(p.mutex);
        p.hold = false;
    }
    p.changed.notify_all();
}

std::vector<reconfirm_call> reconfirm_calls() {
    provider& p = the();
    std::lock_guard<std::mutex> lock(p.mutex);
    return p.reconfirms;
}

std::vector<std::string> misuses() {
    provider& p = the();
    std::lock_guard<std::mutex> lock(p.mutex);
    return p.misuses;
}

bool wait_all_released() {
    return wait([](provider& p) {
        for (auto& r : p.records) {
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
    scripted::provider& p = the();
    std::unique_lock<std::mutex> lock(p.mutex);
    if (p.hold) {
        p.held = true;
        p.changed.notify_all();
        p.changed.wait(lock, [&] { return !p.hold; });
        p.held = false;
    }
    ++p.socket_queries;
    p.changed.notify_all();
    scripted::record* r = from(sdRef);
    if (r->released) {
        p.misuses.push_back("DNSServiceRefSockFD on a released " + r->op->function);
        return -1;
    }
    return r->reported_fd;
}

DNSServiceErrorType DNSServiceProcessResult(DNSServiceRef sdRef) {
    scripted::provider& p = the();
    scripted::record* r = from(sdRef);
    std::unique_lock<std::mutex> lock(p.mutex);
    if (r->released || r->pending.empty()) {
        p.misuses.push_back("DNSServiceProcessResult without a reply on " + r->op->function);
        return kDNSServiceErr_BadState;
    }
    int left = std::exchange(r->batch, 1);
    DNSServiceErrorType result = kDNSServiceErr_NoError;
    while (left-- > 0 && !r->released && !r->pending.empty() && result == kDNSServiceErr_NoError) {
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
    p.changed.notify_all();
    return result;
}

void DNSServiceRefDeallocate(DNSServiceRef sdRef) {
    scripted::provider& p = the();
    std::lock_guard<std::mutex> lock(p.mutex);
    scripted::record* r = from(sdRef);
    if (r->released) {
        p.misuses.push_back("DNSServiceRefDeallocate twice on " + r->op->function);
        return;
    }
    r->released = true;
    p.changed.notify_all();
}

DNSServiceErrorType DNSServiceRegister(DNSServiceRef* sdRef, DNSServiceFlags flags,
                                       uint32_t interfaceIndex, const char* name,
                                       const char* regtype, const char* domain, const char*,
                                       uint16_t port, uint16_t txtLen, const void* txtRecord,
                                       DNSServiceRegisterReply callBack, void* context) {
    auto op = scripted::made("DNSServiceRegister", flags, interfaceIndex, name, regtype, domain,
                             reinterpret_cast<void*>(callBack), context);
    op->network_port = port;
    if (txtRecord != nullptr) {
        op->txt.assign(static_cast<const char*>(txtRecord), txtLen);
    }
    return scripted::start(sdRef, std::move(op));
}

DNSServiceErrorType DNSServiceBrowse(DNSServiceRef* sdRef, DNSServiceFlags flags,
                                     uint32_t interfaceIndex, const char* regtype,
                                     const char* domain, DNSServiceBrowseReply callBack,
                                     void* context) {
    return scripted::start(sdRef, scripted::made("DNSServiceBrowse", flags, interfaceIndex, nullptr,
                                                 regtype, domain, reinterpret_cast<void*>(callBack),
                                                 context));
}

DNSServiceErrorType DNSServiceResolve(DNSServiceRef* sdRef, DNSServiceFlags flags,
                                      uint32_t interfaceIndex, const char* name,
                                      const char* regtype, const char* domain,
                                      DNSServiceResolveReply callBack, void* context) {
    return scripted::start(sdRef,
                           scripted::made("DNSServiceResolve", flags, interfaceIndex, name, regtype,
                                          domain, reinterpret_cast<void*>(callBack), context));
}

DNSServiceErrorType DNSServiceQueryRecord(DNSServiceRef* sdRef, DNSServiceFlags flags,
                                          uint32_t interfaceIndex, const char* fullname,
                                          uint16_t rrtype, uint16_t rrclass,
                                          DNSServiceQueryRecordReply callBack, void* context) {
    auto op = scripted::made("DNSServiceQueryRecord", flags, interfaceIndex, fullname, nullptr,
                             nullptr, reinterpret_cast<void*>(callBack), context);
    op->rrtype = rrtype;
    op->rrclass = rrclass;
    return scripted::start(sdRef, std::move(op));
}

DNSServiceErrorType DNSServiceReconfirmRecord(DNSServiceFlags flags, uint32_t interfaceIndex,
                                              const char* fullname, uint16_t rrtype,
                                              uint16_t rrclass, uint16_t rdlen, const void* rdata) {
    scripted::provider& p = the();
    std::lock_guard<std::mutex> lock(p.mutex);
#ifdef SCRIPTED_AS_AVAHI
    p.misuses.push_back("DNSServiceReconfirmRecord, which Avahi refuses");
    (void)flags, (void)interfaceIndex, (void)fullname, (void)rrtype, (void)rrclass, (void)rdlen,
        (void)rdata;
    return kDNSServiceErr_Unsupported;
#else
    p.reconfirms.push_back({flags, interfaceIndex, fullname != nullptr ? fullname : "", rrtype,
                            rrclass, std::string(static_cast<const char*>(rdata), rdlen)});
    return kDNSServiceErr_NoError;
#endif
}

#ifndef SCRIPTED_AS_AVAHI
DNSServiceErrorType DNSServiceGetAddrInfo(DNSServiceRef* sdRef, DNSServiceFlags flags,
                                          uint32_t interfaceIndex, uint32_t protocol,
                                          const char* hostname, void* callBack, void* context) {
    auto op = scripted::made("DNSServiceGetAddrInfo", flags, interfaceIndex, hostname, nullptr,
                             nullptr, callBack, context);
    op->protocol = protocol;
    return scripted::start(sdRef, std::move(op));
}
#endif

} // extern "C"
