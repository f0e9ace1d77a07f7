#include "kvcurl/kvcurl.h"

#include <curl/curl.h>

#include <cstdio>
#include <cstdlib>

namespace kvcurl {
namespace {

struct EasyCleanup {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
using EasyHandle = std::unique_ptr<CURL, EasyCleanup>;

struct HeaderListFree {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using HeaderList = std::unique_ptr<curl_slist, HeaderListFree>;

struct MimeFree {
    void operator()(curl_mime* mime) const { curl_mime_free(mime); }
};
using MimeBody = std::unique_ptr<curl_mime, MimeFree>;

struct FileClose {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileClose>;

} // namespace

struct session {
    EasyHandle handle;
    ProgressFunction progress;
};

namespace {

// Time-outs. A server or device that accepts the connection and then says nothing must not
// hold a thread, nor the sync, for long:
// - every request gives up connecting after 10 s;
// - get and post give up after 60 s in all: enough for a publish file of a few megabytes on a
//   slow line, and device answers are small;
// - download and fetch have no limit in all, packages being large, but give up when less than
//   1 byte per second arrived over 30 s;
// - upload has only the connect time-out: the device answers once it has taken the image; its
//   caller gives it up when it learns the device will not.
// KVPORTAL_HTTP_TIMEOUT (seconds) replaces the 60 s and the 30 s.
constexpr long kConnectTimeoutSeconds = 10;
constexpr long kRequestTimeoutSeconds = 60;
constexpr long kStallTimeoutSeconds = 30;
constexpr long kStallBytesPerSecond = 1;

long timeoutSeconds(long defaultSeconds) {
    const char* text = std::getenv("KVPORTAL_HTTP_TIMEOUT");
    if (text == nullptr || *text == '\0') {
        return defaultSeconds;
    }
    char* end = nullptr;
    const long seconds = std::strtol(text, &end, 10);
    return (*end == '\0' && seconds > 0) ? seconds : defaultSeconds;
}

void setCommonOptions(CURL* handle) {
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds);
    if (const char* bundle = std::getenv("KVPORTAL_CA_BUNDLE"); bundle != nullptr && *bundle) {
        curl_easy_setopt(handle, CURLOPT_CAINFO, bundle);
    }
}

// Exceptions must not cross libcurl: a sink that cannot store fails the transfer instead.
size_t textSink(char* data, size_t size, size_t count, void* text) {
    const size_t length = size * count;
    try {
        static_cast<std::string*>(text)->append(data, length);
    } catch (...) {
        return 0;
    }
    // The console of verbose mode shows the text as it arrives, each byte once.
    std::fwrite(data, 1, length, stdout);
    return length;
}

size_t fileSink(char* data, size_t size, size_t count, void* file) {
    return std::fwrite(data, 1, size * count, static_cast<std::FILE*>(file));
}

std::unique_ptr<response> failedResponse(CURLcode result) {
    auto reply = std::make_unique<response>();
    reply->error = curl_easy_strerror(result);
    return reply;
}

// libcurl rebuilds its version text in one static buffer on every curl_version call, so
// requests on several threads would race on it: the user agent is read once.
const char* userAgent() {
    static const std::string text = curl_version();
    return text.c_str();
}

// The options get and post share, after their own.
void setRequestOptions(CURL* handle, response& reply) {
    curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 1L);
    curl_easy_setopt(handle, CURLOPT_USERPWD, "dvus:dvpw");
    curl_easy_setopt(handle, CURLOPT_USERAGENT, userAgent());
    curl_easy_setopt(handle, CURLOPT_MAXREDIRS, 50L);
    curl_easy_setopt(handle, CURLOPT_TCP_KEEPALIVE, 1L);
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, textSink);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &reply.body);
    curl_easy_setopt(handle, CURLOPT_HEADERDATA, &reply.headers);
    setCommonOptions(handle);
    curl_easy_setopt(handle, CURLOPT_TIMEOUT, timeoutSeconds(kRequestTimeoutSeconds));
}

// A caller waiting on a device names how long an answer may take: the connection must be
// made, and bytes must keep arriving, within that time. A request that keeps flowing (a
// publish file on a slow line) is not cut short by it.
void setAnswerTimeout(CURL* handle, int timeoutMs) {
    if (timeoutMs <= 0) {
        return;
    }
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(timeoutMs));
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, kStallBytesPerSecond);
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, static_cast<long>((timeoutMs + 999) / 1000));
}

void performRequest(CURL* handle, response& reply) {
    const CURLcode result = curl_easy_perform(handle);
    if (result != CURLE_OK) {
        reply.error = curl_easy_strerror(result);
        return;
    }
    long code = 0;
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &code);
    reply.code = static_cast<int32_t>(code);
}

bool appendHeader(HeaderList& list, const char* line) {
    curl_slist* grown = curl_slist_append(list.get(), line);
    if (grown == nullptr) {
        return false;
    }
    list.release();
    list.reset(grown);
    return true;
}

int progressTrampoline(void* data, curl_off_t downloadTotal, curl_off_t downloadNow,
                       curl_off_t uploadTotal, curl_off_t uploadNow) {
    const auto* transfer = static_cast<const session*>(data);
    if (transfer == nullptr || !transfer->progress) {
        return 0;
    }
    try {
        return transfer->progress(transfer, downloadTotal, downloadNow, uploadTotal, uploadNow) == 0
                   ? 0
                   : 1;
    } catch (...) {
        return 1;
    }
}

int abandonTrampoline(void* data, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    try {
        return (*static_cast<const std::function<bool()>*>(data))() ? 1 : 0;
    } catch (...) {
        return 1;
    }
}

CURLcode performStream(session& transfer, const std::string& url, curl_write_callback sink,
                       void* sinkData) {
    CURL* handle = transfer.handle.get();
    curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
    curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(handle, CURLOPT_FAILONERROR, 1L);
    curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, progressTrampoline);
    curl_easy_setopt(handle, CURLOPT_XFERINFODATA, &transfer);
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, sink);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, sinkData);
    setCommonOptions(handle);
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, kStallBytesPerSecond);
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, timeoutSeconds(kStallTimeoutSeconds));
    return curl_easy_perform(handle);
}

} // namespace

std::unique_ptr<response> get(const std::string& url, int timeoutHint) {
    EasyHandle handle(curl_easy_init());
    if (!handle) {
        return failedResponse(CURLE_FAILED_INIT);
    }
    auto reply = std::make_unique<response>();
    curl_easy_setopt(handle.get(), CURLOPT_URL, url.c_str());
    setRequestOptions(handle.get(), *reply);
    setAnswerTimeout(handle.get(), timeoutHint);
    performRequest(handle.get(), *reply);
    return reply;
}

std::unique_ptr<response> post(const std::string& url, const char* const* headerLines,
                               int headerCount, const char* body, long bodySize, int timeoutHint) {
    EasyHandle handle(curl_easy_init());
    if (!handle) {
        return failedResponse(CURLE_FAILED_INIT);
    }
    // Declared after the handle so that it goes first.
    HeaderList headers;
    for (int i = 0; i < headerCount; ++i) {
        if (!appendHeader(headers, headerLines[i])) {
            return failedResponse(CURLE_OUT_OF_MEMORY);
        }
    }
    auto reply = std::make_unique<response>();
    CURL* h = handle.get();
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    if (body != nullptr) {
        curl_easy_setopt(h, CURLOPT_POSTFIELDS, body);
    }
    if (bodySize != 0) {
        curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE, bodySize);
    }
    curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, "POST");
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
    setRequestOptions(h, *reply);
    setAnswerTimeout(h, timeoutHint);
    performRequest(h, *reply);
    return reply;
}

int32_t download(const std::string& url, const std::string& path,
                 const ProgressFunction& progress) {
    File file(std::fopen(path.c_str(), "wb"));
    if (!file) {
        return kCannotOpenFile;
    }
    session transfer{EasyHandle(curl_easy_init()), progress};
    if (!transfer.handle) {
        return CURLE_FAILED_INIT;
    }
    const CURLcode result = performStream(transfer, url, fileSink, file.get());
    // Bytes still buffered may fail to reach the disk: that is a failed download too.
    const bool closed = std::fclose(file.release()) == 0;
    return result == CURLE_OK && !closed ? CURLE_WRITE_ERROR : result;
}

int32_t fetch(const std::string& url, std::string& text, const ProgressFunction& progress) {
    session transfer{EasyHandle(curl_easy_init()), progress};
    if (!transfer.handle) {
        return CURLE_FAILED_INIT;
    }
    return performStream(transfer, url, textSink, &text);
}

int32_t upload(const std::string& url, const char* partName, const std::string& path,
               const std::function<bool()>& abandoned) {
    EasyHandle handle(curl_easy_init());
    if (!handle) {
        return CURLE_FAILED_INIT;
    }
    MimeBody mime(curl_mime_init(handle.get()));
    curl_mimepart* part = mime ? curl_mime_addpart(mime.get()) : nullptr;
    if (part == nullptr) {
        return CURLE_OUT_OF_MEMORY;
    }
    curl_mime_name(part, partName);
    // Streamed from disk, with the file's own name as the part's file name.
    if (const CURLcode result = curl_mime_filedata(part, path.c_str()); result != CURLE_OK) {
        return result;
    }
    // Only "Expect:", which keeps libcurl from waiting for a 100-continue.
    HeaderList headers;
    if (!appendHeader(headers, "Expect:")) {
        return CURLE_OUT_OF_MEMORY;
    }
    CURL* h = handle.get();
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(h, CURLOPT_MIMEPOST, mime.get());
    // The device may take minutes to answer; one that lost power meanwhile never will, and
    // only the probes tell.
    curl_easy_setopt(h, CURLOPT_TCP_KEEPALIVE, 1L);
    curl_easy_setopt(h, CURLOPT_TCP_KEEPIDLE, 30L);
    curl_easy_setopt(h, CURLOPT_TCP_KEEPINTVL, 10L);
    if (abandoned) {
        curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, abandonTrampoline);
        curl_easy_setopt(h, CURLOPT_XFERINFODATA, &abandoned);
    }
    setCommonOptions(h);
    return curl_easy_perform(h);
}

std::string errorText(int32_t code) {
    return curl_easy_strerror(static_cast<CURLcode>(code));
}

void globalCleanup() {
    curl_global_cleanup();
}

} // namespace kvcurl
