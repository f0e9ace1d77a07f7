#pragma once

#include "dns_service.h"
#include "dns_txt_records.h"
#include "service.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace zeroconf {

class bonjour_client;

// The registered service handed out by the client; destroying it withdraws the announcement.
class bonjour_service final : public service {
public:
    // Starts the registration; throws std::runtime_error when it cannot start.
    bonjour_service(std::shared_ptr<bonjour_client> owning_client, const std::string& name,
                    const std::string& regtype, std::uint16_t port,
                    const std::vector<std::string>& txt, const std::vector<std::string>& subtypes,
                    state_function on_state);
    ~bonjour_service() override;

    int state() const override;

    class impl;

private:
    const std::shared_ptr<impl> impl_;
};

class bonjour_service::impl final : public service, public dns_service {
public:
    static constexpr std::size_t kMaxName = 64;

    impl(std::shared_ptr<bonjour_client> owning_client, std::string instance, std::string type,
         std::uint16_t port_number, const std::vector<std::string>& txt_entries,
         state_function on_state);

    int state() const override { return state_.load(); }

    const std::string name;
    // The type followed by a comma and each subtype.
    const std::string regtype;
    const std::uint16_t port;
    const dns_txt_records txt;

private:
    void set_state(int value);

    static void register_reply(DNSServiceRef sdRef, DNSServiceFlags flags,
                               DNSServiceErrorType errorCode, const char* name, const char* regtype,
                               const char* domain, void* context);

    std::atomic<int> state_{unknown};
    const state_function state_callback;

    friend class bonjour_service;
};

} // namespace zeroconf
