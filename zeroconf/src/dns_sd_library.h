#pragma once

// The loaded DNS-SD client library and its entry points, looked up on first use and cached.

namespace zeroconf::dns_sd_library {

enum class entry {
    ref_sock_fd,
    process_result,
    ref_deallocate,
    register_service,
    browse,
    resolve,
    query_record,
    reconfirm_record,
    get_addr_info,
};

// The entry point, or nullptr when the library or the entry point is missing.
void* lookup(entry which);

// Avahi's Bonjour compatibility library needs the adaptations of avahi_adaptation.h.
bool is_avahi();

template <typename Function>
Function* lookup_as(entry which) {
    return reinterpret_cast<Function*>(lookup(which));
}

} // namespace zeroconf::dns_sd_library
