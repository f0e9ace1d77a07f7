#pragma once

#include "browser.h"
#include "browser_listener.h"
#include "hostname_browser.h"
#include "hostname_listener.h"
#include "service.h"
#include "time_source.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace zeroconf {

// The discovery library's entry point: one thread that serves every DNS-SD operation made
// through this client. Every operation keeps the client alive; the thread ends with the client,
// after the last operation. All listener and state calls run on that thread.
//
// Texts are UTF-8. An operation that cannot start is logged and comes back empty.
class client : public std::enable_shared_from_this<client> {
public:
    virtual ~client() = default;
    client(const client&) = delete;
    client& operator=(const client&) = delete;

    // Browses all interfaces in the given domain. A non-empty subtype narrows the type, a
    // non-empty name the instances reported. With reconfirm, the daemon is asked to verify each
    // address it answers.
    virtual std::shared_ptr<browser>
    browse_domain(const std::string& name, const std::string& regtype, const std::string& domain,
                  const std::string& subtype, std::shared_ptr<browser_listener> listener,
                  bool reconfirm) = 0;

    // Browses the client's interface in the default domains.
    virtual std::shared_ptr<browser> browse(const std::string& name, const std::string& regtype,
                                            const std::string& subtype,
                                            std::shared_ptr<browser_listener> listener,
                                            bool reconfirm) = 0;

    virtual std::shared_ptr<hostname_browser>
    browse_hostname(const std::string& hostname, std::shared_ptr<hostname_listener> listener) = 0;

    // Announces a service under exactly this name: a name already taken is reported to the
    // state callback as service::name_collision, never renamed. The port is in host order, the
    // TXT entries are normally key=value.
    virtual std::shared_ptr<service>
    register_service(const std::string& name, const std::string& regtype, std::uint16_t port,
                     const std::vector<std::string>& txt, const std::vector<std::string>& subtypes,
                     service::state_function state_callback) = 0;

    // The DNS-SD interface index of the operations that use the client's interface; 0 means all.
    const std::uint32_t interface_index;

protected:
    explicit client(std::uint32_t index) : interface_index(index) {}
};

// A negative index means all interfaces. The client's thread runs when this returns.
std::shared_ptr<client> create_client(int index);

// The same, with the clock that the discovery time-outs read.
std::shared_ptr<client> create_client(int index, time_source now);

} // namespace zeroconf
