#pragma once

#include "dns_service.h"
#include "hostname_browser.h"

#include <cstdint>
#include <string>

struct sockaddr;

namespace zeroconf {

class bonjour_client;

// The host-name browser handed out by the client; destroying it ends the address query.
class bonjour_hostname_browser final : public hostname_browser {
public:
    // Starts following the host name; throws std::runtime_error when it cannot start.
    bonjour_hostname_browser(std::shared_ptr<bonjour_client> owning_client,
                             const std::string& hostname, std::shared_ptr<hostname_listener> told);
    ~bonjour_hostname_browser() override;

    class impl;

private:
    const std::shared_ptr<impl> impl_;
};

class bonjour_hostname_browser::impl final : public hostname_browser, public dns_service {
public:
    impl(std::shared_ptr<bonjour_client> owning_client, std::string hostname,
         std::shared_ptr<hostname_listener> told);

    // The host name asked for.
    const std::string name_filter;

private:
    static void addr_reply(DNSServiceRef sdRef, DNSServiceFlags flags, std::uint32_t interfaceIndex,
                           DNSServiceErrorType errorCode, const char* hostname,
                           const sockaddr* address, std::uint32_t ttl, void* context);

    friend class bonjour_hostname_browser;
};

} // namespace zeroconf
