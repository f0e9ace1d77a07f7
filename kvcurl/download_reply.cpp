#include "kvcurl/download_reply.h"

#include <strings.h>

#include <cctype>
#include <cstdlib>

namespace kvcurl {

namespace {

std::string trimmed(const std::string& text, std::size_t from) {
    std::size_t begin = from;
    std::size_t end = text.size();
    while (begin < end && std::isspace(static_cast<unsigned char>(text[begin]))) {
        ++begin;
    }
    while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1]))) {
        --end;
    }
    return text.substr(begin, end - begin);
}

} // namespace

void download_reply::readHeader(const std::string& line) {
    if (line.rfind("HTTP/", 0) == 0) {
        *this = download_reply();
        const std::size_t space = line.find(' ');
        status =
            space == std::string::npos ? 0 : std::strtol(line.c_str() + space + 1, nullptr, 10);
        return;
    }
    const std::size_t colon = line.find(':');
    if (colon == std::string::npos) {
        return;
    }
    const std::string name = line.substr(0, colon);
    const std::string value = trimmed(line, colon + 1);
    if (strcasecmp(name.c_str(), "ETag") == 0) {
        etag = value;
    } else if (strcasecmp(name.c_str(), "Last-Modified") == 0) {
        lastModified = value;
    } else if (strcasecmp(name.c_str(), "Accept-Ranges") == 0) {
        acceptsRanges = strcasecmp(value.c_str(), "bytes") == 0;
    } else if (strcasecmp(name.c_str(), "Content-Range") == 0 &&
               strncasecmp(value.c_str(), "bytes ", 6) == 0 &&
               std::isdigit(static_cast<unsigned char>(value[6]))) {
        rangeStart = std::strtoll(value.c_str() + 6, nullptr, 10);
    }
}

std::string download_reply::validator() const {
    if (status != 206 && !acceptsRanges) {
        return {};
    }
    // A weak ETag never matches If-Range.
    if (!etag.empty() && etag.rfind("W/", 0) != 0) {
        return etag;
    }
    return lastModified;
}

} // namespace kvcurl
