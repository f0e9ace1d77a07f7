#include "ui/manager/HeadProbe.h"

#include <curl/curl.h>

#include <memory>

namespace kv::portal {

namespace {

struct EasyCleanup {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};

} // namespace

bool deviceAnswers(const std::string& address) {
    const std::unique_ptr<CURL, EasyCleanup> handle(curl_easy_init());
    if (!handle) {
        return false;
    }
    curl_easy_setopt(handle.get(), CURLOPT_URL, address.c_str());
    curl_easy_setopt(handle.get(), CURLOPT_NOBODY, 1L);
    // A device answers over http; neither its address nor a redirect may lead elsewhere.
    curl_easy_setopt(handle.get(), CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(handle.get(), CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(handle.get(), CURLOPT_DEFAULT_PROTOCOL, "http");
    curl_easy_setopt(handle.get(), CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(handle.get(), CURLOPT_CONNECTTIMEOUT_MS, 2000L);
    curl_easy_setopt(handle.get(), CURLOPT_TIMEOUT_MS, 2000L);
    // Time-outs must not raise signals in a threaded program.
    curl_easy_setopt(handle.get(), CURLOPT_NOSIGNAL, 1L);
    return curl_easy_perform(handle.get()) == CURLE_OK;
}

} // namespace kv::portal
