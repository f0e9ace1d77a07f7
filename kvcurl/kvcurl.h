#pragma once

// The program's HTTP session over libcurl. Every operation makes its own transfer and keeps
// nothing between requests, so operations run concurrently on any thread.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace kvcurl {

struct session;

// Called during a transfer with libcurl's byte counts (a total of 0: not known yet);
// any result other than 0 aborts the transfer with 42.
using ProgressFunction =
    std::function<int32_t(const session* session, int64_t downloadTotal, int64_t downloadNow,
                          int64_t uploadTotal, int64_t uploadNow)>;

struct response {
    std::string headers;
    std::string body;
    std::string error;
    int32_t code = 0;
};

std::unique_ptr<response> get(const std::string& url, int timeoutHint = 0);
std::unique_ptr<response> post(const std::string& url, const char* const* headerLines,
                               int headerCount, const char* body, long bodySize);
int32_t download(const std::string& url, const std::string& path, const ProgressFunction& progress);
int32_t fetch(const std::string& url, std::string& text, const ProgressFunction& progress);
// Multipart POST of one file as the part `partName`; returns libcurl's result code.
int32_t upload(const std::string& url, const char* partName, const std::string& path);

std::string errorText(int32_t code);
void globalCleanup();

} // namespace kvcurl
