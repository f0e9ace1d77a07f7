#include "core/download/ResumeRecord.h"

#include "platform/FileOpening.h"

#include <cstdio>

namespace kv::portal {

namespace {

// A record is two short lines; anything longer is not one.
constexpr std::size_t kMostBytes = 4096;

} // namespace

std::string readResumeValidator(const std::string& path, const std::string& release) {
    const platform::FilePtr file = platform::openForReading(path);
    if (!file) {
        return {};
    }
    std::string text(kMostBytes, '\0');
    text.resize(std::fread(text.data(), 1, text.size(), file.get()));
    const std::string expected = release + "\n";
    if (text.size() >= kMostBytes || text.rfind(expected, 0) != 0 || text.back() != '\n') {
        return {};
    }
    std::string validator = text.substr(expected.size(), text.size() - expected.size() - 1);
    return validator.find('\n') == std::string::npos ? validator : std::string();
}

bool writeResumeRecord(const std::string& path, const std::string& release,
                       const std::string& validator) {
    return release.find('\n') == std::string::npos &&
           validator.find_first_of("\r\n") == std::string::npos &&
           platform::replaceWhole(path, release + "\n" + validator + "\n");
}

} // namespace kv::portal
