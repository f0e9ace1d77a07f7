#pragma once

#include <dns_sd.h>

#include <functional>
#include <memory>

namespace zeroconf {

class bonjour_client;
class resolver_context;

// select() cannot watch sockets numbered this high.
bool socket_beyond_select(int fd);

// Base of every DNS-SD operation: its reference, and its membership of the client's poll set.
class dns_service : public std::enable_shared_from_this<dns_service> {
public:
    explicit dns_service(std::shared_ptr<bonjour_client> owning_client);
    virtual ~dns_service();
    dns_service(const dns_service&) = delete;
    dns_service& operator=(const dns_service&) = delete;

    // Joins the poll set once the operation's DNS-SD call has succeeded. Throws
    // std::runtime_error("fdset too small.") when 512 operations are live already or select()
    // cannot watch the operation's socket.
    void add_dns_service();

    // Leaves the poll set and releases sd_ref_. Every owner calls it before it drops its last
    // reference.
    void remove_dns_service();

    // Set before the operation joins the poll set; afterwards guarded by the owner's mutex.
    DNSServiceRef sd_ref_ = nullptr;
    // The bookkeeping of a resolve, and what the poll thread calls while it has no data; both
    // belong to the poll thread.
    std::unique_ptr<resolver_context> context;
    std::function<void(dns_service&)> on_idle;
    // What the poll thread calls, once a cycle, while the operation is in its client's
    // recovering list; true once it has recovered. Poll thread only.
    std::function<bool(dns_service&)> on_recover;
    // Keeps the client, and so its poll thread, alive while the operation lives.
    const std::shared_ptr<bonjour_client> owner;
};

} // namespace zeroconf
