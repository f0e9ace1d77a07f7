#pragma once

#include "browser_listener.h"
#include "ui/manager/Manager.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <vector>

namespace kv::portal {

// The manager as its listeners see it: present until the manager detaches it. A call made
// through the link finishes before the manager goes on with its destruction.
class Manager::ListenerLink {
public:
    explicit ListenerLink(Manager* manager) : manager_(manager) {}

    // Runs `call` with the manager unless it has detached.
    template <typename Call>
    void withManager(Call&& call) {
        std::shared_lock<std::shared_mutex> lock(mutex_);
        if (manager_) {
            call(*manager_);
        }
    }

    // Waits for the calls in progress; later calls find no manager.
    void detach() {
        std::unique_lock<std::shared_mutex> lock(mutex_);
        manager_ = nullptr;
    }

private:
    std::shared_mutex mutex_;
    Manager* manager_;
};

// Turns the services of the three browsers into device products of the core. Called on the
// DNS-SD poll threads, possibly after the manager has gone.
class Manager::BrowserListener : public zeroconf::browser_listener {
public:
    explicit BrowserListener(std::shared_ptr<ListenerLink> link) : link_(std::move(link)) {}

    void on_service_resolved(std::uint32_t interfaceIndex, const std::string& name,
                             const std::string& regtype, const std::string& host,
                             const std::string& address, std::uint16_t port,
                             const std::vector<std::string>& txt) override;
    void on_service_removed(std::uint32_t interfaceIndex, const std::string& name,
                            const std::string& regtype) override;

private:
    const std::shared_ptr<ListenerLink> link_;
};

} // namespace kv::portal
