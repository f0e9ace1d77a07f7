#pragma once

#include "scripted_dns_sd.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kv::test {

// Plays the DNS-SD side of device announcements through the scripted provider, for a manager
// whose browsers it finds among the provider's operations.
class ScriptedDiscovery {
public:
    // The browse of the manager's nth start (from 1) for one of its three subtypes, in the
    // manager's order.
    scripted::operation_ptr browse(std::size_t start, std::size_t subtype) const;

    // The instance (a name without spaces or dots) appears on the browse and resolves to the
    // address with these TXT entries.
    void announce(const scripted::operation_ptr& browse, const std::string& name,
                  const std::string& address, const std::vector<std::string>& txt);

    // Stops after the resolve: the address query stays unanswered; returns it.
    scripted::operation_ptr announceWithoutAddress(const scripted::operation_ptr& browse,
                                                   const std::string& name,
                                                   const std::vector<std::string>& txt);
    void answerAddress(const scripted::operation_ptr& query, const std::string& address);

    void withdraw(const scripted::operation_ptr& browse, const std::string& name);

private:
    std::size_t resolves_ = 0;
    std::size_t queries_ = 0;
};

// TXT entries of a KELMORA+KORVEX device.
std::vector<std::string> korvexTxt(const std::string& version = "1.0.0b1");

} // namespace kv::test
