#pragma once

#include "browser.h"
#include "dns_service.h"

#include <cstdint>
#include <string>

namespace zeroconf {

class bonjour_client;

// The browser handed out by the client; destroying it ends the browse.
class bonjour_browser final : public browser {
public:
    // Starts the browse; throws std::runtime_error when it cannot start. A null domain means the
    // default domains.
    bonjour_browser(std::shared_ptr<bonjour_client> owning_client, std::uint32_t interface_index,
                    const std::string& watched_name, const std::string& regtype, const char* domain,
                    std::shared_ptr<browser_listener> told, bool verify);
    ~bonjour_browser() override;

    class impl;

private:
    const std::shared_ptr<impl> impl_;
};

// The browse itself, which the poll thread may hold a moment longer than the browser.
class bonjour_browser::impl final : public browser, public dns_service {
public:
    impl(std::shared_ptr<bonjour_client> owning_client, std::string watched_name,
         std::shared_ptr<browser_listener> told, bool verify);

    // Instance name to watch, empty for all.
    const std::string name_filter;
    // Counts the appearances and disappearances of the watched name; a resolve delivers only
    // when no newer one has come. Poll thread only.
    const std::shared_ptr<std::uint32_t> generation;
    const bool reconfirm;

private:
    static void browse_reply(DNSServiceRef sdRef, DNSServiceFlags flags,
                             std::uint32_t interfaceIndex, DNSServiceErrorType errorCode,
                             const char* serviceName, const char* regtype, const char* replyDomain,
                             void* context);

    friend class bonjour_browser;
};

} // namespace zeroconf
