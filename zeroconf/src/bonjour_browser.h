#pragma once

#include "browser.h"
#include "dns_service.h"

#include <atomic>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <tuple>

namespace zeroconf {

class bonjour_client;

// The browser handed out by the client; destroying it ends the browse.
class bonjour_browser final : public browser {
public:
    // Starts the browse, or has the poll thread start it once the DNS-SD service's daemon is
    // back; throws std::runtime_error when it cannot start otherwise. A null domain means the
    // default domains.
    bonjour_browser(std::shared_ptr<bonjour_client> owning_client, std::uint32_t interface_index,
                    const std::string& watched_name, const std::string& regtype, const char* domain,
                    std::shared_ptr<browser_listener> told, bool verify);
    ~bonjour_browser() override;

    class impl;

private:
    const std::shared_ptr<impl> impl_;
};

// The browse itself, which the poll thread may hold a moment longer than the browser.
//
// When the DNS-SD service ends the browse (its daemon restarts), the poll thread starts it
// again every second until the service answers. The instances reported before are then given
// kSettleNanoseconds to be announced again: those that are stay reported, as if they had never
// gone; the others are reported removed.
class bonjour_browser::impl final : public browser, public dns_service {
public:
    static constexpr std::int64_t kRetryNanoseconds = 1'000'000'000;
    static constexpr std::int64_t kSettleNanoseconds = 10'000'000'000;

    impl(std::shared_ptr<bonjour_client> owning_client, std::uint32_t index, std::string type,
         const char* domain, std::string watched_name, std::shared_ptr<browser_listener> told,
         bool verify);

    // Instance name to watch, empty for all.
    const std::string name_filter;
    // Counts the appearances and disappearances of the watched name; a resolve delivers only
    // when no newer one has come. Poll thread only.
    const std::shared_ptr<std::uint32_t> generation;
    const bool reconfirm;

private:
    // Interface index, instance name and service type, as the browse reply gives them.
    using instance = std::tuple<std::uint32_t, std::string, std::string>;

    // Calls DNSServiceBrowse into sd_ref_ and joins the poll set; returns its error.
    DNSServiceErrorType start();
    // The owner is done with the browse: it is never started again.
    void end();
    // The DNS-SD service ended the browse, or could not start it.
    void lose(DNSServiceErrorType error);
    bool recover();

    static void browse_reply(DNSServiceRef sdRef, DNSServiceFlags flags,
                             std::uint32_t interfaceIndex, DNSServiceErrorType errorCode,
                             const char* serviceName, const char* regtype, const char* replyDomain,
                             void* context);

    const std::uint32_t interface_index_;
    const std::string regtype_;
    const std::optional<std::string> domain_;
    std::atomic<bool> ended_{false};

    // Poll thread only: the instances reported and not removed since; those reported before the
    // browse was lost and not announced again since; whether it is in the client's recovering
    // list; when to try starting it again, and when it was started again.
    std::set<instance> known_;
    std::set<instance> stale_;
    bool recovering_ = false;
    std::int64_t retry_at_ = 0;
    std::optional<std::int64_t> restarted_at_;

    friend class bonjour_browser;
};

} // namespace zeroconf
