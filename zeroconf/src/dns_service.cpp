#include "dns_service.h"

#include "bonjour_client.h"
#include "dns_sd_binding.h"
#include "log.h"
#include "resolver_context.h"

#include <sys/select.h>

#include <stdexcept>

namespace zeroconf {
namespace {

// select() cannot wait on more sockets than this.
constexpr std::size_t kMaxOperations = 512;

} // namespace

bool socket_beyond_select(int fd) {
    return fd >= FD_SETSIZE;
}

dns_service::dns_service(std::shared_ptr<bonjour_client> owning_client)
    : owner(std::move(owning_client)) {}

dns_service::~dns_service() {
    remove_dns_service();
}

void dns_service::add_dns_service() {
    std::weak_ptr<dns_service> self = shared_from_this();
    const bool beyond = socket_beyond_select(binding::DNSServiceRefSockFD(sd_ref_));
    poll_state& state = owner->state();
    {
        std::lock_guard<std::recursive_mutex> lock(state.mutex);
        std::size_t live = 0;
        for (const auto& entry : state.services) {
            live += entry.expired() ? 0 : 1;
        }
        if (live >= kMaxOperations || beyond) {
            ZEROCONF_LOG(3, "fdset too small\n");
            throw std::runtime_error("fdset too small.");
        }
        state.services.push_back(std::move(self));
    }
    state.operation_added();
}

void dns_service::remove_dns_service() {
    // Entries are compared by owner, not locked: locking one could make this thread drop the last
    // reference of another operation while it walks the list.
    const std::weak_ptr<dns_service> self = weak_from_this();
    poll_state& state = owner->state();
    DNSServiceRef ref = nullptr;
    {
        std::lock_guard<std::recursive_mutex> lock(state.mutex);
        for (auto entry = state.services.begin(); entry != state.services.end(); ++entry) {
            if (!entry->owner_before(self) && !self.owner_before(*entry)) {
                if (entry->expired()) {
                    ZEROCONF_LOG(3, "dns_service::remove_dns_service: must have been called before "
                                    "shared_ptr's counter reaches 0\n");
                }
                state.services.erase(entry);
                break;
            }
        }
        ref = sd_ref_;
        sd_ref_ = nullptr;
    }
    if (ref != nullptr) {
        owner->release(ref);
    }
}

} // namespace zeroconf
