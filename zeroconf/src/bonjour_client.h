#pragma once

#include "client.h"
#include "poll_thread.h"

#include <thread>

namespace zeroconf {

class bonjour_client final : public client {
public:
    bonjour_client(std::uint32_t index, time_source clock);
    // Joins the poll thread, unless it runs on that thread (the last operation ended inside a
    // reply), which then finishes its cycle alone.
    ~bonjour_client() override;

    std::shared_ptr<browser> browse_domain(const std::string& name, const std::string& regtype,
                                           const std::string& domain, const std::string& subtype,
                                           std::shared_ptr<browser_listener> listener,
                                           bool reconfirm) override;
    std::shared_ptr<browser> browse(const std::string& name, const std::string& regtype,
                                    const std::string& subtype,
                                    std::shared_ptr<browser_listener> listener,
                                    bool reconfirm) override;
    std::shared_ptr<hostname_browser>
    browse_hostname(const std::string& hostname,
                    std::shared_ptr<hostname_listener> listener) override;
    std::shared_ptr<service> register_service(const std::string& name, const std::string& regtype,
                                              std::uint16_t port,
                                              const std::vector<std::string>& txt,
                                              const std::vector<std::string>& subtypes,
                                              service::state_function state_callback) override;

    poll_state& state() const { return *state_; }
    std::int64_t now() const { return now_(); }

    // Deallocates a reference that has left the poll set. On the poll thread at once, so that
    // no further reply of a batch being delivered reaches the ended operation; from another
    // thread the poll thread does it at the top of its next cycle, never while it waits on the
    // reference's socket or dispatches its reply.
    void release(DNSServiceRef ref);

private:
    std::shared_ptr<bonjour_client> shared_self();

    const time_source now_;
    const std::shared_ptr<poll_state> state_;
    std::thread poll_thread_;
};

} // namespace zeroconf
