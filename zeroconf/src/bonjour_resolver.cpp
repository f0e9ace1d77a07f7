#include "bonjour_resolver.h"

#include "bonjour_client.h"
#include "dns_sd_binding.h"
#include "dns_txt_records.h"
#include "log.h"
#include "reply_guard.h"
#include "resolver_context.h"
#include "service_name.h"

#include <arpa/inet.h>

#include <cstdio>
#include <stdexcept>
#include <utility>

namespace zeroconf {

void bonjour_resolver::start(std::shared_ptr<bonjour_client> owning_client,
                             std::shared_ptr<browser_listener> told,
                             std::shared_ptr<std::uint32_t> counter, bool verify,
                             DNSServiceFlags flags, std::uint32_t reply_interface_index,
                             const std::string& instance, const std::string& type,
                             const std::string& domain) {
    auto resolver = std::make_shared<bonjour_resolver>(std::move(owning_client), type,
                                                       std::move(told), std::move(counter), verify);
    resolver->context = std::make_unique<resolver_context>(resolver);
    const DNSServiceErrorType error = binding::DNSServiceResolve(
        &resolver->sd_ref_, flags, reply_interface_index, instance.c_str(), type.c_str(),
        domain.c_str(), resolve_reply, resolver.get());
    resolver->mark_started();
    resolver->on_idle = [](dns_service& operation) {
        static_cast<bonjour_resolver&>(operation).check_time_out();
    };
    if (error != kDNSServiceErr_NoError) {
        resolver->sd_ref_ = nullptr;
        ZEROCONF_LOG(3, "DNSServiceResolve() failed (%d)\n", error);
        resolver->end();
        return;
    }
    try {
        resolver->add_dns_service();
    } catch (const std::runtime_error&) {
        // Refused, and logged, by the poll set.
        resolver->end();
    }
}

bonjour_resolver::bonjour_resolver(std::shared_ptr<bonjour_client> owning_client, std::string type,
                                   std::shared_ptr<browser_listener> told,
                                   std::shared_ptr<std::uint32_t> counter, bool verify)
    : dns_service(std::move(owning_client)), regtype(std::move(type)), listener(std::move(told)),
      generation(std::move(counter)), generation_at_start(*generation), reconfirm(verify) {}

void bonjour_resolver::resolve_reply(DNSServiceRef, DNSServiceFlags, std::uint32_t interfaceIndex,
                                     DNSServiceErrorType errorCode, const char* fullname,
                                     const char* hosttarget, std::uint16_t port,
                                     std::uint16_t txtLen, const unsigned char* txtRecord,
                                     void* context) {
    bonjour_resolver* self = static_cast<bonjour_resolver*>(context);
    guard_reply(
        "resolve_reply",
        [&] {
            // The error comes first: error replies may carry no names at all.
            if (errorCode != kDNSServiceErr_NoError) {
                ZEROCONF_LOG(3, "errorCode = %d\n", errorCode);
                self->end();
                return;
            }
            self->store_resolved(interfaceIndex, fullname, hosttarget, port, txtLen, txtRecord);
            self->query_address(interfaceIndex, fullname, hosttarget, port, txtLen, txtRecord);
        },
        [self] { self->end(); });
}

void bonjour_resolver::store_resolved(std::uint32_t reply_interface_index, const char* fullname,
                                      const char* hosttarget, std::uint16_t network_port,
                                      std::uint16_t txt_length, const unsigned char* txt_record) {
    const std::string full = text_or_empty(fullname);
    const std::size_t dot = first_unescaped_dot(full);
    if (dot == std::string::npos) {
        throw std::runtime_error("illegal service name");
    }
    interface_index = reply_interface_index;
    name = unescape_service_name(full.substr(0, dot));
    host = text_or_empty(hosttarget);
    port = ntohs(network_port);
    parse_txt_record(txt_record, txt_length, txt);
}

void bonjour_resolver::query_address(std::uint32_t reply_interface_index, const char* fullname,
                                     const char* hosttarget, std::uint16_t network_port,
                                     std::uint16_t txt_length, const unsigned char* txt_record) {
    DNSServiceRef resolve = nullptr;
    {
        std::lock_guard<std::recursive_mutex> lock(owner->state().mutex);
        resolve = std::exchange(sd_ref_, nullptr);
    }
    // Releasing the resolve inside its own reply is allowed.
    binding::DNSServiceRefDeallocate(resolve);
    DNSServiceRef query = nullptr;
    const DNSServiceErrorType error =
        binding::DNSServiceQueryRecord(&query, 0, interface_index, host.c_str(), kDNSServiceType_A,
                                       kDNSServiceClass_IN, qr_reply, this);
    mark_started();
    if (error == kDNSServiceErr_NoError &&
        socket_beyond_select(binding::DNSServiceRefSockFD(query))) {
        binding::DNSServiceRefDeallocate(query);
        ZEROCONF_LOG(3, "fdset too small\n");
        end();
        return;
    }
    if (error != kDNSServiceErr_NoError) {
        ZEROCONF_LOG(3, "DNSServiceQueryRecord failed (%d)\n", error);
        if (error == kDNSServiceErr_BadParam) {
            ZEROCONF_LOG(3,
                         "DNSServiceQueryRecord failed (%i = wrong parameters)\n"
                         "resolve_reply(n/a, %i, %s, %s, %u, %u, %p, %p)\n"
                         "DNSServiceQueryRecord(%p, %i, %i, %s, %i, %i, %p, %p)\n",
                         error, static_cast<int>(reply_interface_index),
                         text_or_empty(fullname).c_str(), text_or_empty(hosttarget).c_str(),
                         static_cast<unsigned>(network_port), static_cast<unsigned>(txt_length),
                         static_cast<const void*>(txt_record), static_cast<void*>(this),
                         static_cast<void*>(&query), 0, static_cast<int>(interface_index),
                         host.c_str(), static_cast<int>(kDNSServiceType_A),
                         static_cast<int>(kDNSServiceClass_IN), reinterpret_cast<void*>(&qr_reply),
                         static_cast<void*>(this));
        } else {
            ZEROCONF_LOG(3, "DNSServiceQueryRecord failed (%d)\n", error);
        }
        end();
        return;
    }
    std::lock_guard<std::recursive_mutex> lock(owner->state().mutex);
    sd_ref_ = query;
}

void bonjour_resolver::qr_reply(DNSServiceRef, DNSServiceFlags, std::uint32_t,
                                DNSServiceErrorType errorCode, const char* fullname,
                                std::uint16_t rrtype, std::uint16_t rrclass, std::uint16_t rdlen,
                                const void* rdata, std::uint32_t, void* context) {
    bonjour_resolver* self = static_cast<bonjour_resolver*>(context);
    guard_reply(
        "qr_reply",
        [&] {
            if (errorCode != kDNSServiceErr_NoError) {
                ZEROCONF_LOG(3, "errorCode = %d\n", errorCode);
                self->end();
                return;
            }
            if (rdlen != 4 || rdata == nullptr) {
                ZEROCONF_LOG(3, "Bonjour DNSServiceQueryRecord IPV6 unmanaged qr_reply!\n");
                return;
            }
            self->deliver(fullname, rrtype, rrclass, static_cast<const unsigned char*>(rdata));
            self->end();
        },
        [self] { self->end(); });
}

void bonjour_resolver::deliver(const char* fullname, std::uint16_t rrtype, std::uint16_t rrclass,
                               const unsigned char* address) {
    char text[16];
    std::snprintf(text, sizeof(text), "%d.%d.%d.%d", address[0], address[1], address[2],
                  address[3]);
    if (reconfirm) {
        const std::string full = text_or_empty(fullname);
        ZEROCONF_LOG(4,
                     "%s seems out dated -> force daemon to verify the validity of this record\n",
                     full.c_str());
        binding::DNSServiceReconfirmRecord(binding::kDNSServiceFlagsForce, interface_index,
                                           full.c_str(), rrtype, rrclass, 4, address);
    }
    // A newer appearance or disappearance of the watched name has overtaken this result.
    if (generation_at_start != *generation) {
        return;
    }
    listener->on_service_resolved(interface_index, name, regtype, host, text, port, txt);
}

void bonjour_resolver::mark_started() {
    context->started = true;
    context->started_at = owner->now();
}

void bonjour_resolver::check_time_out() {
    if (!context->started || owner->now() - context->started_at < kTimeOutNanoseconds) {
        return;
    }
    ZEROCONF_LOG(3,
                 "Bonjour has left a query incomplete. We need to clean up the leftover socket: "
                 "%d\n",
                 sd_ref_ != nullptr ? binding::DNSServiceRefSockFD(sd_ref_) : -1);
    end();
}

void bonjour_resolver::end() {
    context.reset();
}

} // namespace zeroconf
