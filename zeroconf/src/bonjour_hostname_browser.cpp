#include "bonjour_hostname_browser.h"

#include "bonjour_client.h"
#include "dns_sd_binding.h"
#include "log.h"
#include "reply_guard.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdio>
#include <stdexcept>

namespace zeroconf {

bonjour_hostname_browser::bonjour_hostname_browser(std::shared_ptr<bonjour_client> owning_client,
                                                   const std::string& hostname,
                                                   std::shared_ptr<hostname_listener> told)
    : hostname_browser(told),
      impl_(std::make_shared<impl>(std::move(owning_client), hostname, std::move(told))) {
    const DNSServiceErrorType error = binding::DNSServiceGetAddrInfo(
        &impl_->sd_ref_, binding::kDNSServiceFlagsReturnIntermediates,
        impl_->owner->interface_index, binding::kDNSServiceProtocol_IPv4, hostname.c_str(),
        impl::addr_reply, impl_.get());
    if (error != kDNSServiceErr_NoError) {
        impl_->sd_ref_ = nullptr;
        throw std::runtime_error("DNSServiceGetAddrInfo() failed (" + std::to_string(error) + ").");
    }
    impl_->add_dns_service();
}

bonjour_hostname_browser::~bonjour_hostname_browser() {
    impl_->remove_dns_service();
}

bonjour_hostname_browser::impl::impl(std::shared_ptr<bonjour_client> owning_client,
                                     std::string hostname, std::shared_ptr<hostname_listener> told)
    : hostname_browser(std::move(told)), dns_service(std::move(owning_client)),
      name_filter(std::move(hostname)) {}

void bonjour_hostname_browser::impl::addr_reply(DNSServiceRef, DNSServiceFlags flags,
                                                std::uint32_t interfaceIndex,
                                                DNSServiceErrorType errorCode, const char* hostname,
                                                const sockaddr* address, std::uint32_t,
                                                void* context) {
    impl* self = static_cast<impl*>(context);
    guard_reply("addr_reply", [&] {
        if (errorCode != kDNSServiceErr_NoError) {
            ZEROCONF_LOG(3, "errorCode = %d\n", errorCode);
            return;
        }
        const std::string host = text_or_empty(hostname);
        if (!self->name_filter.empty() && self->name_filter != host) {
            return;
        }
        if ((flags & kDNSServiceFlagsAdd) == 0) {
            ZEROCONF_LOG(7, "[%p] Hostname Rmv %s\n", static_cast<void*>(self->listener.get()),
                         host.c_str());
            self->listener->on_hostname_removed(interfaceIndex, host);
            return;
        }
        char text[256] = "";
        if (address != nullptr && address->sa_family == AF_INET) {
            const auto* ipv4 = reinterpret_cast<const sockaddr_in*>(address);
            const auto* bytes = reinterpret_cast<const unsigned char*>(&ipv4->sin_addr);
            std::snprintf(text, sizeof(text), "%d.%d.%d.%d", bytes[0], bytes[1], bytes[2],
                          bytes[3]);
        }
        ZEROCONF_LOG(7, "[%p] Hostname Resolved %s -> %s\n",
                     static_cast<void*>(self->listener.get()), host.c_str(), text);
        self->listener->on_hostname_resolved(interfaceIndex, host, text);
    });
}

} // namespace zeroconf
