#include "bonjour_client.h"

#include "bonjour_browser.h"
#include "bonjour_hostname_browser.h"
#include "bonjour_service.h"
#include "dns_sd_binding.h"
#include "log.h"

#include <exception>

namespace zeroconf {
namespace {

std::string with_subtype(const std::string& regtype, const std::string& subtype) {
    return subtype.empty() ? regtype : regtype + "," + subtype;
}

// Runs one of the client's operations: a failure to start is logged and gives an empty result.
template <typename Make>
auto make_operation(std::uint32_t interface_index, const std::string& name,
                    const std::string& regtype, Make make) -> decltype(make()) {
    try {
        return make();
    } catch (const std::exception& error) {
        ZEROCONF_LOG(3, "[%i] %s  %s; runtime error %s\n", static_cast<int>(interface_index),
                     name.c_str(), regtype.c_str(), error.what());
    } catch (...) {
        ZEROCONF_LOG(3, "[%i] %s  %s; runtime error %s\n", static_cast<int>(interface_index),
                     name.c_str(), regtype.c_str(), "Unknown exception");
    }
    return nullptr;
}

} // namespace

std::shared_ptr<client> create_client(int index) {
    return create_client(index, steady_nanoseconds);
}

std::shared_ptr<client> create_client(int index, time_source now) {
    return std::make_shared<bonjour_client>(index < 0 ? 0u : static_cast<std::uint32_t>(index),
                                            std::move(now));
}

bonjour_client::bonjour_client(std::uint32_t index, time_source clock)
    : client(index), now_(std::move(clock)), state_(std::make_shared<poll_state>()),
      poll_thread_([state = state_] { run_poll_loop(state); }) {}

bonjour_client::~bonjour_client() {
    state_->request_stop();
    if (std::this_thread::get_id() == poll_thread_.get_id()) {
        ZEROCONF_LOG(6, "destroyed from poll_thread_\n");
        poll_thread_.detach();
    } else {
        poll_thread_.join();
    }
}

void bonjour_client::release(DNSServiceRef ref) {
    if (std::this_thread::get_id() == poll_thread_.get_id()) {
        binding::DNSServiceRefDeallocate(ref);
        return;
    }
    std::lock_guard<std::recursive_mutex> lock(state_->mutex);
    state_->retired.push_back(ref);
}

std::shared_ptr<bonjour_client> bonjour_client::shared_self() {
    return std::static_pointer_cast<bonjour_client>(shared_from_this());
}

std::shared_ptr<browser>
bonjour_client::browse_domain(const std::string& name, const std::string& regtype,
                              const std::string& domain, const std::string& subtype,
                              std::shared_ptr<browser_listener> listener, bool reconfirm) {
    auto self = shared_self();
    return make_operation(interface_index, name, regtype, [&]() -> std::shared_ptr<browser> {
        return std::make_shared<bonjour_browser>(self, 0, name, with_subtype(regtype, subtype),
                                                 domain.empty() ? nullptr : domain.c_str(),
                                                 std::move(listener), reconfirm);
    });
}

std::shared_ptr<browser> bonjour_client::browse(const std::string& name, const std::string& regtype,
                                                const std::string& subtype,
                                                std::shared_ptr<browser_listener> listener,
                                                bool reconfirm) {
    auto self = shared_self();
    return make_operation(interface_index, name, regtype, [&]() -> std::shared_ptr<browser> {
        return std::make_shared<bonjour_browser>(self, interface_index, name,
                                                 with_subtype(regtype, subtype), nullptr,
                                                 std::move(listener), reconfirm);
    });
}

std::shared_ptr<hostname_browser>
bonjour_client::browse_hostname(const std::string& hostname,
                                std::shared_ptr<hostname_listener> listener) {
    auto self = shared_self();
    return make_operation(
        interface_index, hostname, std::string(), [&]() -> std::shared_ptr<hostname_browser> {
            return std::make_shared<bonjour_hostname_browser>(self, hostname, std::move(listener));
        });
}

std::shared_ptr<service> bonjour_client::register_service(const std::string& name,
                                                          const std::string& regtype,
                                                          std::uint16_t port,
                                                          const std::vector<std::string>& txt,
                                                          const std::vector<std::string>& subtypes,
                                                          service::state_function state_callback) {
    auto self = shared_self();
    return make_operation(interface_index, name, regtype, [&]() -> std::shared_ptr<service> {
        return std::make_shared<bonjour_service>(self, name, regtype, port, txt, subtypes,
                                                 std::move(state_callback));
    });
}

} // namespace zeroconf
