#include "dns_sd_library.h"

#include "platform/ProgramLocation.h"
#include "provider.h"

#include <dlfcn.h>
#include <link.h>

#include <atomic>
#include <cstdlib>
#include <string>

namespace zeroconf::dns_sd_library {
namespace {

constexpr const char* kEntryNames[] = {
    "DNSServiceRefSockFD",   "DNSServiceProcessResult",   "DNSServiceRefDeallocate",
    "DNSServiceRegister",    "DNSServiceBrowse",          "DNSServiceResolve",
    "DNSServiceQueryRecord", "DNSServiceReconfirmRecord", "DNSServiceGetAddrInfo",
};
constexpr int kEntryCount = sizeof(kEntryNames) / sizeof(kEntryNames[0]);

// The program's own provider, among the program's helpers.
std::string own_provider() {
    const std::string folder = kv::platform::helperFolder();
    return folder.empty() ? folder : folder + "/" + KV_DNSSD_PROVIDER;
}

// A provider named by KVPORTAL_DNSSD_LIBRARY is the only one tried; otherwise the program's own,
// then Avahi's compatibility library.
void* open_provider() {
    const char* chosen = std::getenv("KVPORTAL_DNSSD_LIBRARY");
    if (chosen != nullptr && *chosen != '\0') {
        return ::dlopen(chosen, RTLD_NOW);
    }
    const std::string own = own_provider();
    void* handle = own.empty() ? nullptr : ::dlopen(own.c_str(), RTLD_NOW);
    return handle != nullptr ? handle : ::dlopen("libdns_sd.so.1", RTLD_NOW);
}

struct loaded_library {
    loaded_library() {
        // Silences the banner Avahi's library prints when a program loads it.
        ::setenv("AVAHI_COMPAT_NOWARN", "1", 1);
        handle = open_provider();
        avahi = handle != nullptr && ::dlsym(handle, "avahi_warn_unsupported") != nullptr;
    }

    void* handle = nullptr;
    bool avahi = false;
    // Threads that race on a look-up store the same value.
    std::atomic<void*> slots[kEntryCount]{};
};

// Never unloaded: a poll thread that outlives its client may still be inside the library
// while the process ends.
loaded_library& library() {
    static loaded_library loaded;
    return loaded;
}

// Loads while the process still has one thread: setenv is unsafe beside threads reading the
// environment.
[[maybe_unused]] const bool loaded_at_start = (library(), true);

} // namespace

void* lookup(entry which) {
    loaded_library& loaded = library();
    std::atomic<void*>& slot = loaded.slots[static_cast<int>(which)];
    if (loaded.handle == nullptr) {
        slot.store(nullptr, std::memory_order_relaxed);
        return nullptr;
    }
    if (void* cached = slot.load(std::memory_order_relaxed)) {
        return cached;
    }
    void* found = ::dlsym(loaded.handle, kEntryNames[static_cast<int>(which)]);
    slot.store(found, std::memory_order_relaxed);
    return found;
}

bool is_avahi() {
    return library().avahi;
}

} // namespace zeroconf::dns_sd_library

namespace zeroconf {

std::string provider_path() {
    void* handle = dns_sd_library::library().handle;
    link_map* map = nullptr;
    if (handle == nullptr || ::dlinfo(handle, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr) {
        return std::string();
    }
    return map->l_name;
}

} // namespace zeroconf
