#pragma once

// Names and values of avahi-daemon's D-Bus interface.

#include "message.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kvdns_sd::avahi {

constexpr const char* kService = "org.freedesktop.Avahi";
constexpr const char* kServer = "org.freedesktop.Avahi.Server2";
constexpr const char* kServiceBrowser = "org.freedesktop.Avahi.ServiceBrowser";
constexpr const char* kServiceResolver = "org.freedesktop.Avahi.ServiceResolver";
constexpr const char* kRecordBrowser = "org.freedesktop.Avahi.RecordBrowser";
constexpr const char* kEntryGroup = "org.freedesktop.Avahi.EntryGroup";

constexpr std::int32_t kProtocolAny = -1;
// Services are looked up over IPv4 only: the program handles IPv4, and one sighting per
// interface spares it the same instance seen over IPv6.
constexpr std::int32_t kProtocolIPv4 = 0;

// Lookup flag: resolve without looking for the host's address, which DNS-SD asks for apart.
constexpr std::uint32_t kLookupNoAddress = 8;

// Entry group states.
constexpr std::int32_t kEstablished = 2;
constexpr std::int32_t kCollision = 3;
constexpr std::int32_t kFailure = 4;

// DNS-SD's interface index: 0 is any interface, which Avahi calls -1.
std::int32_t interface_of(std::uint32_t interface_index);

// A call of the server's method.
message_ptr server_call(const char* member);
// A call of a method of the object at path.
message_ptr object_call(const std::string& path, const char* interface, const char* member);
// The object's Start call, all a browser or resolver needs once it exists.
std::vector<message_ptr> start(const std::string& path, const char* interface);

} // namespace kvdns_sd::avahi
