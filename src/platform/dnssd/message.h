#pragma once

#include <dbus/dbus.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kvdns_sd {

struct message_unref {
    void operator()(DBusMessage* message) const { dbus_message_unref(message); }
};
using message_ptr = std::unique_ptr<DBusMessage, message_unref>;

using byte_array = std::vector<unsigned char>;

// Appends arguments in order: i, u, q, s and aay (a list of byte strings).
class writer {
public:
    explicit writer(DBusMessage& message);

    writer& operator<<(std::int32_t value);
    writer& operator<<(std::uint32_t value);
    writer& operator<<(std::uint16_t value);
    writer& operator<<(const std::string& value);
    writer& operator<<(const std::vector<std::string>& byte_strings);

private:
    DBusMessageIter iter_;
};

// Reads arguments in order: i, u, q, s or o, ay and aay. ok() tells whether each one was there
// with the type asked for.
class reader {
public:
    explicit reader(DBusMessage& message);

    reader& operator>>(std::int32_t& value);
    reader& operator>>(std::uint32_t& value);
    reader& operator>>(std::uint16_t& value);
    reader& operator>>(std::string& value);
    reader& operator>>(byte_array& value);
    reader& operator>>(std::vector<std::string>& byte_strings);

    bool ok() const { return ok_; }

private:
    bool at(int type);
    template <typename Value>
    reader& basic(int type, Value& value);

    DBusMessageIter iter_;
    bool more_;
    bool ok_ = true;
};

} // namespace kvdns_sd
