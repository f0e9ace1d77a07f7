#pragma once

#include "dns_sd_provider.h"

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace provider_test {

constexpr auto kDeadline = std::chrono::seconds(20);

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
