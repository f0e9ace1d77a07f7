#include "bonjour_service.h"

#include "bonjour_client.h"
#include "dns_sd_binding.h"
#include "log.h"
#include "reply_guard.h"

#include <arpa/inet.h>

#include <stdexcept>

namespace zeroconf {
namespace {

std::string with_subtypes(const std::string& regtype, const std::vector<std::string>& subtypes) {
    std::string joined = regtype;
    for (const auto& subtype : subtypes) {
        joined += "," + subtype;
    }
    return joined;
}

} // namespace

bonjour_service::bonjour_service(std::shared_ptr<bonjour_client> owning_client,
                                 const std::string& name, const std::string& regtype,
                                 std::uint16_t port, const std::vector<std::string>& txt,
                                 const std::vector<std::string>& subtypes, state_function on_state)
    : impl_(std::make_shared<impl>(std::move(owning_client), name, with_subtypes(regtype, subtypes),
                                   port, txt, std::move(on_state))) {
    if (name.size() >= impl::kMaxName) {
        // The DNS-SD service decides; it is still asked.
        ZEROCONF_LOG(3, "service name \"%s\" is too long(%zu) should be < %u\n", name.c_str(),
                     name.size(), static_cast<unsigned>(impl::kMaxName));
    }
    const DNSServiceErrorType error = binding::DNSServiceRegister(
        &impl_->sd_ref_, kDNSServiceFlagsNoAutoRename, impl_->owner->interface_index,
        impl_->name.c_str(), impl_->regtype.c_str(), nullptr, nullptr, htons(impl_->port),
        impl_->txt.length(), impl_->txt.data(), impl::register_reply, impl_.get());
    if (error != kDNSServiceErr_NoError) {
        impl_->sd_ref_ = nullptr;
        throw std::runtime_error("Could not register service \"" + name + "\" (" +
                                 std::to_string(error) + ").");
    }
    impl_->add_dns_service();
}

bonjour_service::~bonjour_service() {
    impl_->remove_dns_service();
}

int bonjour_service::state() const {
    return impl_->state();
}

bonjour_service::impl::impl(std::shared_ptr<bonjour_client> owning_client, std::string instance,
                            std::string type, std::uint16_t port_number,
                            const std::vector<std::string>& txt_entries, state_function on_state)
    : dns_service(std::move(owning_client)), name(std::move(instance)), regtype(std::move(type)),
      port(port_number), txt(txt_entries), state_callback(std::move(on_state)) {}

void bonjour_service::impl::set_state(int value) {
    state_.store(value);
    if (state_callback) {
        state_callback(value);
    }
}

void bonjour_service::impl::register_reply(DNSServiceRef, DNSServiceFlags,
                                           DNSServiceErrorType errorCode, const char*, const char*,
                                           const char*, void* context) {
    impl* self = static_cast<impl*>(context);
    guard_reply("register_reply", [&] {
        if (errorCode == kDNSServiceErr_NameConflict) {
            ZEROCONF_LOG(3, "bonjour_service failed name collision (%i)\n", errorCode);
            self->set_state(name_collision);
        } else if (errorCode != kDNSServiceErr_NoError) {
            ZEROCONF_LOG(3, "bonjour_service failed (%i)\n", errorCode);
            self->set_state(failed);
        } else {
            self->set_state(registered);
        }
    });
}

} // namespace zeroconf
