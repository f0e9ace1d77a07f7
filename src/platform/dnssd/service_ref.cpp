#include "service_ref.h"

#include "dns_sd_provider.h"
#include "operation.h"

#include <memory>

namespace kvdns_sd {
namespace {

// What a DNSServiceRef points to: the caller's hold on its operation and on the bus serving it.
struct service_ref {
    std::shared_ptr<operation> op;
    std::shared_ptr<avahi_bus> bus;
};

service_ref* from(DNSServiceRef ref) {
    return reinterpret_cast<service_ref*>(ref);
}

} // namespace

DNSServiceErrorType start_operation(DNSServiceRef* sdRef, daemon_object object) {
    if (sdRef == nullptr) {
        return kDNSServiceErr_BadParam;
    }
    DNSServiceErrorType error = kDNSServiceErr_NoError;
    std::shared_ptr<avahi_bus> bus = avahi_bus::get(error);
    if (bus == nullptr) {
        return error;
    }
    std::shared_ptr<operation> op = operation::create();
    if (op == nullptr) {
        return kDNSServiceErr_NoMemory;
    }
    bus->create(op, std::move(object));
    *sdRef = reinterpret_cast<DNSServiceRef>(new service_ref{std::move(op), std::move(bus)});
    return kDNSServiceErr_NoError;
}

} // namespace kvdns_sd

int DNSServiceRefSockFD(DNSServiceRef sdRef) {
    return sdRef != nullptr ? kvdns_sd::from(sdRef)->op->fd() : -1;
}

DNSServiceErrorType DNSServiceProcessResult(DNSServiceRef sdRef) {
    if (sdRef == nullptr) {
        return kDNSServiceErr_BadReference;
    }
    // Keeps the operation while a callback deallocates sdRef.
    const std::shared_ptr<kvdns_sd::operation> op = kvdns_sd::from(sdRef)->op;
    op->deliver(sdRef);
    return kDNSServiceErr_NoError;
}

void DNSServiceRefDeallocate(DNSServiceRef sdRef) {
    const std::unique_ptr<kvdns_sd::service_ref> ref(kvdns_sd::from(sdRef));
    if (ref != nullptr) {
        ref->op->cancel();
        ref->bus->release(ref->op);
    }
}
