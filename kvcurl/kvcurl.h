#pragma once

// The program's HTTP session over libcurl. Every operation makes its own transfer and keeps
// nothing between requests, so operations run concurrently on any thread.
//
// KVPORTAL_CA_BUNDLE names the certificate authorities that HTTPS peers are verified against
// (a private CA); KVPORTAL_HTTP_TIMEOUT (seconds) replaces the total time-out of get and post
// and the stall time-out of download and fetch.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace kvcurl {

// One streaming transfer: its handle and the caller's progress function.
struct session;

// Called during a transfer with libcurl's byte counts (a total of 0: not known yet);
// any result other than 0 aborts the transfer with 42.
using ProgressFunction =
    std::function<int32_t(const session* session, int64_t downloadTotal, int64_t downloadNow,
                          int64_t uploadTotal, int64_t uploadNow)>;

struct response {
    // Every header line and every body byte, in arrival order.
    std::string headers;
    std::string body;
    // libcurl's text for a failed transfer; empty on success.
    std::string error;
    // The HTTP status; 0 when the transfer failed.
    int32_t code = 0;
};

// download's result when the destination file cannot be opened.
constexpr int32_t kCannotOpenFile = 100;

// Requests with the device credentials and libcurl's user agent; redirects are not followed.
// A timeout hint (milliseconds) bounds the wait for a connection and for each next byte, so
// that a device that accepts and never answers costs that long; the session's own time-outs
// apply as well.
std::unique_ptr<response> get(const std::string& url, int timeoutHint = 0);
// A null body sends the POST without one.
std::unique_ptr<response> post(const std::string& url, const char* const* headerLines,
                               int headerCount, const char* body, long bodySize,
                               int timeoutHint = 0);

// Anonymous GETs returning libcurl's result code; an HTTP status of 400 or more fails with 22.
int32_t download(const std::string& url, const std::string& path, const ProgressFunction& progress);
// Appends the body to the text.
int32_t fetch(const std::string& url, std::string& text, const ProgressFunction& progress);

// Multipart POST of one file as the part `partName`; returns libcurl's result code. The upload
// asks `abandoned` about once a second while it waits, and gives up with 42 when it says true.
int32_t upload(const std::string& url, const char* partName, const std::string& path,
               const std::function<bool()>& abandoned = {});

std::string errorText(int32_t code);
void globalCleanup();

} // namespace kvcurl
