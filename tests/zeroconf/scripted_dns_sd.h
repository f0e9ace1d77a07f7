#pragma once

// A DNS-SD provider of the tests' own, loaded by the discovery library through
// KVPORTAL_DNSSD_LIBRARY. It records every call, answers with the replies a test queues, and
// delivers them on whichever thread calls DNSServiceProcessResult, as a real provider does.
// Built twice: Bonjour-like, and posing as Avahi's compatibility library (it then exports
// avahi_warn_unsupported, has no DNSServiceGetAddrInfo, and refuses flags other than 0).

#include <dns_sd.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace scripted {

// One operation the library started.
struct operation {
    std::string function;
    DNSServiceFlags flags = 0;
    std::uint32_t interface_index = 0;
    std::optional<std::string> name, regtype, domain;
    std::string txt;
    std::uint16_t rrtype = 0, rrclass = 0, network_port = 0;
    std::uint32_t protocol = 0;
    void* callback = nullptr;
    void* context = nullptr;
};
using operation_ptr = std::shared_ptr<const operation>;
using reply = std::function<DNSServiceErrorType(DNSServiceRef)>;

// Forgets every operation and call. Only between tests, once the library holds no reference.
void reset();

// The nth operation (from 1) started by that function, waited for; null when it never came.
operation_ptr wait_for(const std::string& function, std::size_t nth = 1);
std::size_t started(const std::string& function);
// The next call of that function fails with this error.
void fail_next(const std::string& function, DNSServiceErrorType error);

// The socket the provider made for an operation, and the number it reports from now on.
int provider_socket(const operation_ptr& op);
void set_socket(const operation_ptr& op, int fd);

// Queues a reply and makes the operation's socket readable.
void post(const operation_ptr& op, reply run);
// A reply calling the operation's callback with these arguments between reference and context.
template <typename Callback, typename... Args>
void answer(const operation_ptr& op, Args... args) {
    post(op, [op, args...](DNSServiceRef ref) {
        reinterpret_cast<Callback>(op->callback)(ref, args..., op->context);
        return DNSServiceErrorType{kDNSServiceErr_NoError};
    });
}

// The next DNSServiceProcessResult of the operation delivers up to this many queued replies, as
// real providers do, and stops as soon as a reply releases the reference.
void batch_next(const operation_ptr& op, int replies);

// Replies of each kind, with copies of their texts; a null text stays null.
void browse_reply(const operation_ptr& op, DNSServiceFlags flags, std::uint32_t interface_index,
                  DNSServiceErrorType error, const char* name, const char* regtype,
                  const char* domain);
void resolve_reply(const operation_ptr& op, DNSServiceFlags flags, std::uint32_t interface_index,
                   DNSServiceErrorType error, const char* fullname, const char* hosttarget,
                   std::uint16_t host_port, const std::string& txt);
void query_reply(const operation_ptr& op, DNSServiceFlags flags, std::uint32_t interface_index,
                 DNSServiceErrorType error, const char* fullname, std::uint16_t rrtype,
                 const std::string& rdata);

// Waiting, up to a generous deadline; false when it passed.
bool wait_processed(const operation_ptr& op, int count = 1);
bool wait_released(const operation_ptr& op);
bool released(const operation_ptr& op);
// Until DNSServiceRefSockFD has been asked this many more times (once or twice per operation
// and poll cycle).
bool wait_socket_queries(std::size_t more);
// While held, DNSServiceRefSockFD blocks: the poll thread stops before its next wait, so replies
// queued meanwhile are found ready together.
void hold_poll();
bool wait_poll_held();
void release_poll();

struct reconfirm_call {
    DNSServiceFlags flags;
    std::uint32_t interface_index;
    std::string fullname;
    std::uint16_t rrtype, rrclass;
    std::string rdata;
};
std::vector<reconfirm_call> reconfirm_calls();

// Calls the library should never make: on released references, calls the provider refuses.
std::vector<std::string> misuses();
bool wait_all_released();

} // namespace scripted
