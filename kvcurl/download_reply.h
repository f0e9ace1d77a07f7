#pragma once

#include <cstdint>
#include <string>

namespace kvcurl {

// What a download's reply headers say about resuming it, read one header line at a time.
struct download_reply {
    long status = 0;
    std::string etag;
    std::string lastModified;
    bool acceptsRanges = false;
    // The first byte a 206 reply holds; -1 without a Content-Range.
    int64_t rangeStart = -1;

    // A status line starts the reply afresh (an interim or redirect reply came before).
    void readHeader(const std::string& line);
    // What If-Range may name later: a strong ETag, else the Last-Modified date; empty when the
    // server does not take ranges.
    std::string validator() const;
};

} // namespace kvcurl
