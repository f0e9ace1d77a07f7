#include "bonjour_browser.h"

#include "bonjour_client.h"
#include "bonjour_resolver.h"
#include "dns_sd_binding.h"
#include "log.h"
#include "reply_guard.h"

#include <stdexcept>

namespace zeroconf {

bonjour_browser::bonjour_browser(std::shared_ptr<bonjour_client> owning_client,
                                 std::uint32_t interface_index, const std::string& watched_name,
                                 const std::string& regtype, const char* domain,
                                 std::shared_ptr<browser_listener> told, bool verify)
    : browser(told), impl_(std::make_shared<impl>(std::move(owning_client), watched_name,
                                                  std::move(told), verify)) {
    const DNSServiceErrorType error = binding::DNSServiceBrowse(
        &impl_->sd_ref_, binding::kDNSServiceFlagsWakeOnResolve, interface_index, regtype.c_str(),
        domain, impl::browse_reply, impl_.get());
    if (error != kDNSServiceErr_NoError) {
        impl_->sd_ref_ = nullptr;
        throw std::runtime_error("DNSServiceBrowse() failed (" + std::to_string(error) + ").");
    }
    impl_->add_dns_service();
}

bonjour_browser::~bonjour_browser() {
    impl_->remove_dns_service();
}

bonjour_browser::impl::impl(std::shared_ptr<bonjour_client> owning_client, std::string watched_name,
                            std::shared_ptr<browser_listener> told, bool verify)
    : browser(std::move(told)), dns_service(std::move(owning_client)),
      name_filter(std::move(watched_name)), generation(std::make_shared<std::uint32_t>(0)),
      reconfirm(verify) {}

void bonjour_browser::impl::browse_reply(DNSServiceRef, DNSServiceFlags flags,
                                         std::uint32_t interfaceIndex,
                                         DNSServiceErrorType errorCode, const char* serviceName,
                                         const char* regtype, const char* replyDomain,
                                         void* context) {
    impl* self = static_cast<impl*>(context);
    guard_reply("browse_reply", [&] {
        if (errorCode != kDNSServiceErr_NoError) {
            ZEROCONF_LOG(3, "errorCode = %d\n", errorCode);
            return;
        }
        const std::string name = text_or_empty(serviceName);
        if (!self->name_filter.empty()) {
            if (name != self->name_filter) {
                return;
            }
            ++*self->generation;
        }
        if ((flags & kDNSServiceFlagsAdd) != 0) {
            bonjour_resolver::start(self->owner, self->listener, self->generation, self->reconfirm,
                                    flags, interfaceIndex, name, text_or_empty(regtype),
                                    text_or_empty(replyDomain));
        } else {
            self->listener->on_service_removed(interfaceIndex, name, text_or_empty(regtype));
        }
    });
}

} // namespace zeroconf
