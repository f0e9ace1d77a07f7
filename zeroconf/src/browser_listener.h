#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zeroconf {

// Told about the instances a browser sees; called on the client's poll thread.
class browser_listener {
public:
    virtual ~browser_listener() = default;

    // An instance came up: its unescaped name, the service type as the browse reply gave it
    // (with its trailing dot), the host target, the IPv4 address as dotted-quad text, the port in
    // host order and the TXT entries.
    virtual void on_service_resolved(std::uint32_t interface_index, const std::string& name,
                                     const std::string& regtype, const std::string& host,
                                     const std::string& address, std::uint16_t port,
                                     const std::vector<std::string>& txt) = 0;

    // An instance went away, named as the browse reply names it.
    virtual void on_service_removed(std::uint32_t interface_index, const std::string& name,
                                    const std::string& regtype) = 0;
};

} // namespace zeroconf
