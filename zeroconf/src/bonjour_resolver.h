#pragma once

#include "browser_listener.h"
#include "dns_service.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace zeroconf {

// Resolves one instance a browser saw appear, then queries its host's IPv4 address and tells
// the listener. It lives on the poll thread only, kept alive by its context until it ends: by
// its answer, an error, or the 300-second time-out.
class bonjour_resolver final : public dns_service {
public:
    static constexpr std::int64_t kTimeOutNanoseconds = 300'000'000'000;

    // Starts the resolve with the browse reply's flags, interface, name, type and domain.
    static void start(std::shared_ptr<bonjour_client> owning_client,
                      std::shared_ptr<browser_listener> told,
                      std::shared_ptr<std::uint32_t> counter, bool verify, DNSServiceFlags flags,
                      std::uint32_t reply_interface_index, const std::string& instance,
                      const std::string& type, const std::string& domain);

    bonjour_resolver(std::shared_ptr<bonjour_client> owning_client, std::string type,
                     std::shared_ptr<browser_listener> told, std::shared_ptr<std::uint32_t> counter,
                     bool verify);

    const std::string regtype;
    const std::shared_ptr<browser_listener> listener;
    const std::shared_ptr<std::uint32_t> generation;
    const std::uint32_t generation_at_start;
    const bool reconfirm;

    // Filled by the resolve reply.
    std::uint32_t interface_index = 0;
    std::string name;
    std::string host;
    std::uint16_t port = 0;
    std::vector<std::string> txt;

private:
    static void resolve_reply(DNSServiceRef sdRef, DNSServiceFlags flags,
                              std::uint32_t interfaceIndex, DNSServiceErrorType errorCode,
                              const char* fullname, const char* hosttarget, std::uint16_t port,
                              std::uint16_t txtLen, const unsigned char* txtRecord, void* context);
    static void qr_reply(DNSServiceRef sdRef, DNSServiceFlags flags, std::uint32_t interfaceIndex,
                         DNSServiceErrorType errorCode, const char* fullname, std::uint16_t rrtype,
                         std::uint16_t rrclass, std::uint16_t rdlen, const void* rdata,
                         std::uint32_t ttl, void* context);

    void store_resolved(std::uint32_t reply_interface_index, const char* fullname,
                        const char* hosttarget, std::uint16_t network_port,
                        std::uint16_t txt_length, const unsigned char* txt_record);
    void query_address(std::uint32_t reply_interface_index, const char* fullname,
                       const char* hosttarget, std::uint16_t network_port, std::uint16_t txt_length,
                       const unsigned char* txt_record);
    void deliver(const char* fullname, std::uint16_t rrtype, std::uint16_t rrclass,
                 const unsigned char* address);
    void mark_started();
    void check_time_out();
    // Destroys the context, which ends the resolve.
    void end();
};

} // namespace zeroconf
