#pragma once

// The program's HTTP session over libcurl. Every operation makes its own transfer and keeps
// nothing between requests, so operations run concurrently on any thread.
//
// Only http and https are spoken, whatever scheme a URL names; a URL without one is http.
// KVPORTAL_CA_BUNDLE names the certificate authorities that HTTPS peers are verified against
// (a private CA); KVPORTAL_HTTP_TIMEOUT (seconds) replaces the total time-out of get, post and
// fetch and the stall time-out of download.

#include <cstddef>
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
    // Every header line and every body byte, in arrival order. Both are echoed to the standard
    // output, without control characters, once the console was opened.
    std::string headers;
    std::string body;
    // libcurl's text for a failed transfer; empty on success.
    std::string error;
    // The HTTP status; 0 when the transfer failed.
    int32_t code = 0;
    // libcurl's result code; 0 on success.
    int32_t result = 0;
};

// download's result when the destination file cannot be opened.
constexpr int32_t kCannotOpenFile = 100;
// The result of a request whose reply passed its size limit.
constexpr int32_t kTooLarge = 63;

// Replies are held in memory: each request names the most it keeps of the headers and of the
// body, and one that sends more ends with kTooLarge.
constexpr std::size_t kDefaultSizeLimit = 1024 * 1024;

// Requests with the device credentials and libcurl's user agent; redirects are not followed.
// A time limit (milliseconds) bounds the whole request, so that a device that accepts and
// then answers slowly or never costs that long at most; without one the session's own
// time-outs apply.
std::unique_ptr<response> get(const std::string& url, int timeLimitMs = 0,
                              std::size_t sizeLimit = kDefaultSizeLimit);
// A null body sends the POST without one.
std::unique_ptr<response> post(const std::string& url, const char* const* headerLines,
                               int headerCount, const char* body, long bodySize,
                               int timeLimitMs = 0, std::size_t sizeLimit = kDefaultSizeLimit);

// An unfinished download file that a new transfer may continue.
struct resume_point {
    // In: the validator (the server's strong ETag, else its Last-Modified date) the file's bytes
    // came with; empty starts the file afresh. Out: the validator of what the server sent, when
    // it accepts byte ranges; empty when what the file now holds cannot be continued.
    std::string validator;
    // Out: the transfer added to the bytes the file held instead of replacing them.
    bool resumed = false;
};

// Anonymous GET into a file, returning libcurl's result code; an HTTP status of 400 or more
// fails with 22. With a resume point whose validator is set, a file with bytes in it is
// continued: the request asks for the rest with Range and If-Range, a 206 answer is appended
// (progress then counts the whole file), and any other answer replaces the file's content.
int32_t download(const std::string& url, const std::string& path, const ProgressFunction& progress,
                 resume_point* resume = nullptr);
// Anonymous GET whose body is appended to the text, within the session's total time-out.
int32_t fetch(const std::string& url, std::string& text, const ProgressFunction& progress,
              std::size_t sizeLimit = kDefaultSizeLimit);

// Multipart POST of one file as the part `partName`; returns libcurl's result code. The upload
// asks `abandoned` about once a second while it waits, and gives up with 42 when it says true.
int32_t upload(const std::string& url, const char* partName, const std::string& path,
               const std::function<bool()>& abandoned = {});

std::string errorText(int32_t code);
// libcurl's set-up for the process is not safe to run on two threads at once, which it would be
// if left to the first requests: call it before any thread makes one, paired with globalCleanup.
void globalInit();
void globalCleanup();

} // namespace kvcurl
