#pragma once

#include "avahi_bus.h"
#include "message.h"
#include "operation.h"

#include <cstdint>
#include <functional>
#include <string>

namespace kvdns_sd {

// One record that appeared (added) or went away.
struct record_event {
    bool added = false;
    std::uint32_t interface_index = 0;
    std::string name;
    std::uint16_t rrclass = 0;
    std::uint16_t rrtype = 0;
    byte_array rdata;
};

// Watches the records of a name, over IPv4. on_record gives the result for an event, or none
// to leave it out; on_error the result for an error.
daemon_object record_browser(std::uint32_t interface_index, const std::string& name,
                             std::uint16_t rrclass, std::uint16_t rrtype,
                             std::function<operation::result(const record_event&)> on_record,
                             std::function<operation::result(DNSServiceErrorType)> on_error);

} // namespace kvdns_sd
