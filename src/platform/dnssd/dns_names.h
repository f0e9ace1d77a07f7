#pragma once

// Names as DNS-SD writes them and as avahi-daemon takes them.

#include <string>
#include <vector>

namespace kvdns_sd {

// The full name of a service instance in presentation form: the instance label with dots and
// backslashes escaped by a backslash and control characters and spaces as \DDD, then the type
// and the domain, ending with a dot.
std::string full_name(const std::string& instance, const std::string& type,
                      const std::string& domain);

std::string with_trailing_dot(const std::string& name);
std::string without_trailing_dot(const std::string& name);

// The type to browse: "_http._tcp" as it is, and a subtype given either as "_http._tcp,_sub" or as
// "_sub._sub._http._tcp" as the latter. False for more than one subtype.
bool browse_type(const std::string& regtype, std::string& type);

// A registration type "_http._tcp,_a,_b": the base type and the subtypes, as "_a._sub._http._tcp".
void registration_types(const std::string& regtype, std::string& base,
                        std::vector<std::string>& subtypes);

} // namespace kvdns_sd
