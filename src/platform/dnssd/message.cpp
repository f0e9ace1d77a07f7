#include "message.h"

namespace kvdns_sd {
namespace {

void append_bytes(DBusMessageIter& array, const unsigned char* data, int length) {
    DBusMessageIter bytes;
    dbus_message_iter_open_container(&array, DBUS_TYPE_ARRAY, DBUS_TYPE_BYTE_AS_STRING, &bytes);
    dbus_message_iter_append_fixed_array(&bytes, DBUS_TYPE_BYTE, &data, length);
    dbus_message_iter_close_container(&array, &bytes);
}

// Reads the ay at the iterator; false for another type.
bool read_bytes(DBusMessageIter& iter, const unsigned char*& data, int& length) {
    if (dbus_message_iter_get_arg_type(&iter) != DBUS_TYPE_ARRAY ||
        dbus_message_iter_get_element_type(&iter) != DBUS_TYPE_BYTE) {
        return false;
    }
    DBusMessageIter bytes;
    dbus_message_iter_recurse(&iter, &bytes);
    data = nullptr;
    length = 0;
    dbus_message_iter_get_fixed_array(&bytes, &data, &length);
    return true;
}

} // namespace

writer::writer(DBusMessage& message) {
    dbus_message_iter_init_append(&message, &iter_);
}

writer& writer::operator<<(std::int32_t value) {
    const dbus_int32_t argument = value;
    dbus_message_iter_append_basic(&iter_, DBUS_TYPE_INT32, &argument);
    return *this;
}

writer& writer::operator<<(std::uint32_t value) {
    const dbus_uint32_t argument = value;
    dbus_message_iter_append_basic(&iter_, DBUS_TYPE_UINT32, &argument);
    return *this;
}

writer& writer::operator<<(std::uint16_t value) {
    const dbus_uint16_t argument = value;
    dbus_message_iter_append_basic(&iter_, DBUS_TYPE_UINT16, &argument);
    return *this;
}

writer& writer::operator<<(const std::string& value) {
    const char* argument = value.c_str();
    dbus_message_iter_append_basic(&iter_, DBUS_TYPE_STRING, &argument);
    return *this;
}

writer& writer::operator<<(const std::vector<std::string>& byte_strings) {
    DBusMessageIter array;
    dbus_message_iter_open_container(&iter_, DBUS_TYPE_ARRAY,
                                     DBUS_TYPE_ARRAY_AS_STRING DBUS_TYPE_BYTE_AS_STRING, &array);
    for (const auto& bytes : byte_strings) {
        append_bytes(array, reinterpret_cast<const unsigned char*>(bytes.data()),
                     static_cast<int>(bytes.size()));
    }
    dbus_message_iter_close_container(&iter_, &array);
    return *this;
}

reader::reader(DBusMessage& message) : more_(dbus_message_iter_init(&message, &iter_)) {}

bool reader::at(int type) {
    ok_ = ok_ && more_ && dbus_message_iter_get_arg_type(&iter_) == type;
    return ok_;
}

template <typename Value>
reader& reader::basic(int type, Value& value) {
    if (at(type)) {
        dbus_message_iter_get_basic(&iter_, &value);
        more_ = dbus_message_iter_next(&iter_);
    }
    return *this;
}

reader& reader::operator>>(std::int32_t& value) {
    dbus_int32_t argument = 0;
    basic(DBUS_TYPE_INT32, argument);
    value = argument;
    return *this;
}

reader& reader::operator>>(std::uint32_t& value) {
    dbus_uint32_t argument = 0;
    basic(DBUS_TYPE_UINT32, argument);
    value = argument;
    return *this;
}

reader& reader::operator>>(std::uint16_t& value) {
    dbus_uint16_t argument = 0;
    basic(DBUS_TYPE_UINT16, argument);
    value = argument;
    return *this;
}

reader& reader::operator>>(std::string& value) {
    const char* argument = nullptr;
    if (ok_ && more_ && dbus_message_iter_get_arg_type(&iter_) == DBUS_TYPE_OBJECT_PATH) {
        basic(DBUS_TYPE_OBJECT_PATH, argument);
    } else {
        basic(DBUS_TYPE_STRING, argument);
    }
    value = argument != nullptr ? argument : "";
    return *this;
}

reader& reader::operator>>(byte_array& value) {
    const unsigned char* data = nullptr;
    int length = 0;
    ok_ = ok_ && more_ && read_bytes(iter_, data, length);
    if (ok_) {
        value.assign(data, data + length);
        more_ = dbus_message_iter_next(&iter_);
    }
    return *this;
}

reader& reader::operator>>(std::vector<std::string>& byte_strings) {
    byte_strings.clear();
    if (!at(DBUS_TYPE_ARRAY) || dbus_message_iter_get_element_type(&iter_) != DBUS_TYPE_ARRAY) {
        ok_ = false;
        return *this;
    }
    DBusMessageIter array;
    dbus_message_iter_recurse(&iter_, &array);
    while (dbus_message_iter_get_arg_type(&array) != DBUS_TYPE_INVALID) {
        const unsigned char* data = nullptr;
        int length = 0;
        if (!read_bytes(array, data, length)) {
            ok_ = false;
            return *this;
        }
        byte_strings.emplace_back(reinterpret_cast<const char*>(data),
                                  static_cast<std::size_t>(length));
        dbus_message_iter_next(&array);
    }
    more_ = dbus_message_iter_next(&iter_);
    return *this;
}

} // namespace kvdns_sd
