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
    : browser(told),
      impl_(std::make_shared<impl>(std::move(owning_client), interface_index, regtype, domain,
                                   watched_name, std::move(told), verify)) {
    const DNSServiceErrorType error = impl_->start();
    if (error == kDNSServiceErr_NoError) {
        return;
    }
    // The daemon is away (Avahi's compatibility library says so with kDNSServiceErr_Unknown):
    // the browse starts once it is back.
    if (binding::browse_available() &&
        (error == binding::kDNSServiceErr_ServiceNotRunning || error == kDNSServiceErr_Unknown)) {
        impl_->lose(error);
        return;
    }
    throw std::runtime_error("DNSServiceBrowse() failed (" + std::to_string(error) + ").");
}

bonjour_browser::~bonjour_browser() {
    impl_->end();
}

bonjour_browser::impl::impl(std::shared_ptr<bonjour_client> owning_client, std::uint32_t index,
                            std::string type, const char* domain, std::string watched_name,
                            std::shared_ptr<browser_listener> told, bool verify)
    : browser(std::move(told)), dns_service(std::move(owning_client)),
      name_filter(std::move(watched_name)), generation(std::make_shared<std::uint32_t>(0)),
      reconfirm(verify), interface_index_(index), regtype_(std::move(type)),
      domain_(domain != nullptr ? std::optional<std::string>(domain) : std::nullopt) {}

DNSServiceErrorType bonjour_browser::impl::start() {
    DNSServiceRef ref = nullptr;
    const DNSServiceErrorType error = binding::DNSServiceBrowse(
        &ref, binding::kDNSServiceFlagsWakeOnResolve, interface_index_, regtype_.c_str(),
        domain_ ? domain_->c_str() : nullptr, browse_reply, this);
    if (error != kDNSServiceErr_NoError) {
        return error;
    }
    {
        std::lock_guard<std::recursive_mutex> lock(owner->state().mutex);
        sd_ref_ = ref;
    }
    // Ended by its owner while it was being started again: the removal that follows, or the
    // one the owner made, releases the reference.
    add_dns_service();
    if (ended_) {
        remove_dns_service();
    }
    return kDNSServiceErr_NoError;
}

void bonjour_browser::impl::end() {
    ended_ = true;
    remove_dns_service();
}

void bonjour_browser::impl::lose(DNSServiceErrorType error) {
    remove_dns_service();
    stale_.insert(known_.begin(), known_.end());
    known_.clear();
    restarted_at_.reset();
    retry_at_ = owner->now() + kRetryNanoseconds;
    poll_state& state = owner->state();
    std::lock_guard<std::recursive_mutex> lock(state.mutex);
    if (!state.service_away) {
        state.service_away = true;
        ZEROCONF_LOG(4,
                     "DNS-SD browsing stopped (%d); it starts again once the DNS-SD service "
                     "answers\n",
                     error);
    }
    if (!recovering_) {
        recovering_ = true;
        on_recover = [](dns_service& operation) { return static_cast<impl&>(operation).recover(); };
        state.recovering.push_back(weak_from_this());
    }
}

bool bonjour_browser::impl::recover() {
    if (ended_) {
        return true;
    }
    const std::int64_t now = owner->now();
    if (!restarted_at_) {
        if (now < retry_at_) {
            return false;
        }
        retry_at_ = now + kRetryNanoseconds;
        try {
            if (start() != kDNSServiceErr_NoError) {
                return false;
            }
        } catch (const std::runtime_error&) {
            // Refused, and logged, by the poll set.
            remove_dns_service();
            return false;
        }
        restarted_at_ = now;
    }
    if (now - *restarted_at_ < kSettleNanoseconds) {
        return false;
    }
    {
        poll_state& state = owner->state();
        std::lock_guard<std::recursive_mutex> lock(state.mutex);
        if (state.service_away) {
            state.service_away = false;
            ZEROCONF_LOG(6, "DNS-SD browsing started again\n");
        }
    }
    const std::set<instance> gone = std::move(stale_);
    stale_.clear();
    for (const auto& [index, name, type] : gone) {
        listener->on_service_removed(index, name, type);
    }
    recovering_ = false;
    return true;
}

void bonjour_browser::impl::browse_reply(DNSServiceRef, DNSServiceFlags flags,
                                         std::uint32_t interfaceIndex,
                                         DNSServiceErrorType errorCode, const char* serviceName,
                                         const char* regtype, const char* replyDomain,
                                         void* context) {
    impl* self = static_cast<impl*>(context);
    guard_reply("browse_reply", [&] {
        if (errorCode != kDNSServiceErr_NoError) {
            self->lose(errorCode);
            return;
        }
        const std::string name = text_or_empty(serviceName);
        if (!self->name_filter.empty()) {
            if (name != self->name_filter) {
                return;
            }
            ++*self->generation;
        }
        const instance seen{interfaceIndex, name, text_or_empty(regtype)};
        if ((flags & kDNSServiceFlagsAdd) != 0) {
            self->known_.insert(seen);
            // Announced again after the browse was lost: the listener never heard it go.
            if (self->stale_.erase(seen) == 0) {
                bonjour_resolver::start(self->owner, self->listener, self->generation,
                                        self->reconfirm, flags, interfaceIndex, name,
                                        std::get<2>(seen), text_or_empty(replyDomain));
            }
        } else {
            self->known_.erase(seen);
            self->stale_.erase(seen);
            self->listener->on_service_removed(interfaceIndex, name, std::get<2>(seen));
        }
    });
}

} // namespace zeroconf
