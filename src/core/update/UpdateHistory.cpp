#include "core/update/UpdateHistory.h"

#include "platform/FileOpening.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cinttypes>
#include <cstdio>

namespace kv::portal {

namespace {

// "1970-01-01T00:00:00Z" from seconds since then, without the C library's shared state.
std::string utcText(int64_t seconds) {
    int64_t days = seconds / 86400;
    int64_t rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    // Civil date from a day count (proleptic Gregorian, eras of 400 years).
    const int64_t z = days + 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t dayOfEra = z - era * 146097;
    const int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t monthIndex = (5 * dayOfYear + 2) / 153;
    const int64_t day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
    const int64_t month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
    const int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
    char text[128];
    std::snprintf(text, sizeof text,
                  "%04" PRId64 "-%02" PRId64 "-%02" PRId64 "T%02" PRId64 ":%02" PRId64 ":%02" PRId64
                  "Z",
                  year, month, day, rest / 3600, rest / 60 % 60, rest % 60);
    return text;
}

} // namespace

std::string historyLine(const HistoryEntry& entry) {
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    const auto text = [&](const char* key, const std::string& value) {
        writer.Key(key);
        writer.String(value.data(), static_cast<rapidjson::SizeType>(value.size()));
    };
    writer.StartObject();
    text("time", utcText(entry.time));
    text("product", entry.product);
    text("code", entry.code);
    text("address", entry.address);
    text("from_version", entry.fromVersion);
    text("to_version", entry.toVersion);
    text("result", entry.result);
    writer.Key("error_code");
    writer.Int(entry.errorCode);
    writer.Key("duration_ms");
    writer.Int64(entry.durationMs);
    writer.EndObject();
    return std::string(buffer.GetString(), buffer.GetSize()) + "\n";
}

bool appendHistory(const std::string& path, const HistoryEntry& entry) {
    const platform::FilePtr file = platform::openForAppending(path);
    if (!file) {
        return false;
    }
    const std::string line = historyLine(entry);
    // One buffer flushed at once: with O_APPEND the line lands whole at the end.
    return std::fwrite(line.data(), 1, line.size(), file.get()) == line.size() &&
           std::fflush(file.get()) == 0;
}

} // namespace kv::portal
