#pragma once

#include "avahi_bus.h"

#include <dns_sd.h>

namespace kvdns_sd {

// Starts an operation on the process's bus and hands the caller its reference. Returns at once:
// kDNSServiceErr_ServiceNotRunning when there is no bus or daemon, kDNSServiceErr_NoMemory when
// no descriptor can be had.
DNSServiceErrorType start_operation(DNSServiceRef* sdRef, daemon_object object);

} // namespace kvdns_sd
