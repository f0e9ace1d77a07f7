#pragma once

#include "dns_sd_provider.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace provider_test {

constexpr auto kDeadline = std::chrono::seconds(20);

// What the callbacks below were told; their context.
struct browse_event {
    bool added = false;
    std::uint32_t interface_index = 0;
    std::string name;
    std::string type;
    std::string domain;
    DNSServiceFlags flags = 0;
};

struct browse_events {
    std::vector<browse_event> events;
    DNSServiceErrorType error = kDNSServiceErr_NoError;
    // Deallocates its own reference in its first callback.
    bool deallocate_at_once = false;

    std::size_t added() const;
};

struct registration {
    int calls = 0;
    DNSServiceErrorType error = kDNSServiceErr_NoError;
    std::string name;
};

void on_browsed(DNSServiceRef ref, DNSServiceFlags flags, std::uint32_t interfaceIndex,
                DNSServiceErrorType error, const char* name, const char* type, const char* domain,
                void* context);
void on_registered(DNSServiceRef, DNSServiceFlags, DNSServiceErrorType error, const char* name,
                   const char*, const char*, void* context);

// Delivers the results of the references on this thread, as the discovery library's poll thread
// does, until done() holds or the deadline passes; returns done().
bool pump(const std::vector<DNSServiceRef>& refs, const std::function<bool()>& done);

// Waits until the reference's descriptor is readable, without delivering.
bool wait_readable(DNSServiceRef ref);

// Connections of this process to the bus at the address, leaving out the one that asks.
int connections_of_this_process(const std::string& bus_address);

// Descriptors of this process that are eventfds.
int open_eventfds();

// TXT record data in wire form, and back.
std::string txt_record(const std::vector<std::string>& strings);
std::vector<std::string> txt_strings(const unsigned char* data, std::size_t length);

} // namespace provider_test
