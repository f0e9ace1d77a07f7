#include "kvcurl/kvcurl.h"

#include "kvcurl/download_reply.h"
#include "platform/Console.h"
#include "platform/FileOpening.h"

#include <curl/curl.h>

#include <algorithm>
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
    // The bytes the file held before a resumed transfer, counted into its progress.
    curl_off_t resumedFrom = 0;
};

namespace {

// Time-outs. A server or device that accepts the connection and then says nothing must not
// hold a thread, nor the sync, for long:
// - every request gives up connecting after 10 s;
// - get, post and fetch give up after 60 s in all: enough for a publish file of a few
//   megabytes on a slow line, and device answers and agreement texts are small;
// - download has no limit in all, packages being large, but gives up when less than 1 byte
//   per second arrived over 30 s (fetch too);
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

// A link from the catalogue or a device may name any scheme libcurl knows (file, dict,
// gopher, scp...): the program fetches web addresses only, and takes one without a scheme as
// http instead of guessing from its host name.
constexpr char kWebProtocols[] = "http,https";

void setCommonOptions(CURL* handle) {
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, kWebProtocols);
    curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, kWebProtocols);
    curl_easy_setopt(handle, CURLOPT_DEFAULT_PROTOCOL, "http");
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds);
    if (const char* bundle = std::getenv("KVPORTAL_CA_BUNDLE"); bundle != nullptr && *bundle) {
        curl_easy_setopt(handle, CURLOPT_CAINFO, bundle);
    }
}

// What arrives is shown on the console of verbose mode, each byte once, but a peer's escape
// sequences must not reach the user's terminal: control characters (C0 but line feed and tab,
// DEL, and C1 as UTF-8) are left out.
class ConsoleEcho {
public:
    void write(const char* data, size_t length) {
        if (!kv::platform::consoleAttached()) {
            return;
        }
        std::string shown;
        try {
            shown.reserve(length);
        } catch (...) {
            return;
        }
        for (size_t i = 0; i < length; ++i) {
            const auto byte = static_cast<unsigned char>(data[i]);
            if (pendingLead_) {
                pendingLead_ = false;
                if (byte >= 0x80 && byte <= 0x9f) {
                    continue;
                }
                shown.push_back(static_cast<char>(kC1Lead));
            }
            if (byte == kC1Lead) {
                // The next piece may bring the byte that decides.
                pendingLead_ = true;
            } else if ((byte >= 0x20 && byte != 0x7f) || byte == '\n' || byte == '\t') {
                shown.push_back(static_cast<char>(byte));
            }
        }
        std::fwrite(shown.data(), 1, shown.size(), stdout);
    }

private:
    static constexpr unsigned char kC1Lead = 0xc2;
    bool pendingLead_ = false;
};

// One text of a reply: kept up to its limit, and echoed.
struct TextSink {
    TextSink(std::string& into, size_t most) : text(into), limit(most) {}

    std::string& text;
    const size_t limit;
    bool overflowed = false;
    ConsoleEcho echo;
};

// Exceptions must not cross libcurl: a sink that cannot store fails the transfer instead.
size_t textSink(char* data, size_t size, size_t count, void* sink) {
    auto& into = *static_cast<TextSink*>(sink);
    const size_t length = size * count;
    if (length > into.limit - into.text.size()) {
        into.overflowed = true;
        return 0;
    }
    try {
        into.text.append(data, length);
    } catch (...) {
        return 0;
    }
    into.echo.write(data, length);
    return length;
}

size_t echoSink(char* data, size_t size, size_t count, void* echo) {
    static_cast<ConsoleEcho*>(echo)->write(data, size * count);
    return size * count;
}

// A transfer that failed because a sink refused more than its limit is one too large.
CURLcode limitedResult(CURLcode result, bool overflowed) {
    return result != CURLE_OK && overflowed ? CURLE_FILESIZE_EXCEEDED : result;
}

// A download's file, continued when the server answers the range it was asked for and
// started afresh when it answers with the whole content.
struct ResumeSink {
    std::FILE* file;
    curl_off_t offset;
    session* transfer;
    kvcurl::download_reply reply;
    bool decided = false;
    // A range other than the one asked for: the file's bytes and the reply do not fit together.
    bool misplaced = false;
};

size_t resumeSink(char* data, size_t size, size_t count, void* user) {
    auto& sink = *static_cast<ResumeSink*>(user);
    if (!sink.decided && sink.offset > 0) {
        sink.decided = true;
        if (sink.reply.status == 206) {
            if (sink.reply.rangeStart != sink.offset) {
                sink.misplaced = true;
                return 0;
            }
            sink.transfer->resumedFrom = sink.offset;
        } else if (!kv::platform::emptyFile(sink.file)) {
            return 0;
        }
    }
    return std::fwrite(data, 1, size * count, sink.file);
}

size_t replyHeaderSink(char* data, size_t size, size_t count, void* reply) {
    try {
        static_cast<kvcurl::download_reply*>(reply)->readHeader(std::string(data, size * count));
    } catch (...) {
        return 0;
    }
    return size * count;
}

std::unique_ptr<response> failedResponse(CURLcode result) {
    auto reply = std::make_unique<response>();
    reply->error = curl_easy_strerror(result);
    reply->result = result;
    return reply;
}

// libcurl rebuilds its version text in one static buffer on every curl_version call, so
// requests on several threads would race on it: the user agent is read once.
const char* userAgent() {
    static const std::string text = curl_version();
    return text.c_str();
}

// A reply whose announced size passes the limit ends before its body is read.
void setSizeLimit(CURL* handle, TextSink& sink) {
    curl_easy_setopt(handle, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(sink.limit));
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, textSink);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &sink);
}

// The options get and post share, after their own.
void setRequestOptions(CURL* handle, TextSink& body, TextSink& headers) {
    curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 1L);
    curl_easy_setopt(handle, CURLOPT_USERPWD, "dvus:dvpw");
    curl_easy_setopt(handle, CURLOPT_USERAGENT, userAgent());
    curl_easy_setopt(handle, CURLOPT_MAXREDIRS, 50L);
    curl_easy_setopt(handle, CURLOPT_TCP_KEEPALIVE, 1L);
    setSizeLimit(handle, body);
    curl_easy_setopt(handle, CURLOPT_HEADERDATA, &headers);
    setCommonOptions(handle);
    curl_easy_setopt(handle, CURLOPT_TIMEOUT, timeoutSeconds(kRequestTimeoutSeconds));
}

// A caller waiting on a device names how long an answer may take in all: a device that
// trickles its reply a byte at a time must not hold the caller (and the locks it holds)
// longer than one that says nothing.
void setTimeLimit(CURL* handle, int timeLimitMs) {
    if (timeLimitMs <= 0) {
        return;
    }
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(timeLimitMs));
    curl_easy_setopt(handle, CURLOPT_TIMEOUT_MS, static_cast<long>(timeLimitMs));
}

void performRequest(CURL* handle, response& reply, const TextSink& body, const TextSink& headers) {
    const CURLcode performed = curl_easy_perform(handle);
    const CURLcode result = limitedResult(performed, body.overflowed || headers.overflowed);
    if (result != CURLE_OK) {
        reply.error = curl_easy_strerror(result);
        reply.result = result;
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
    if (transfer->resumedFrom > 0 && downloadTotal > 0) {
        downloadTotal += transfer->resumedFrom;
        downloadNow += transfer->resumedFrom;
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

// The options of download and fetch; the caller sets where the body goes.
CURLcode performStream(session& transfer, const std::string& url) {
    CURL* handle = transfer.handle.get();
    curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
    curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(handle, CURLOPT_FAILONERROR, 1L);
    curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, progressTrampoline);
    curl_easy_setopt(handle, CURLOPT_XFERINFODATA, &transfer);
    setCommonOptions(handle);
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, kStallBytesPerSecond);
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, timeoutSeconds(kStallTimeoutSeconds));
    return curl_easy_perform(handle);
}

} // namespace

std::unique_ptr<response> get(const std::string& url, int timeLimitMs, size_t sizeLimit) {
    EasyHandle handle(curl_easy_init());
    if (!handle) {
        return failedResponse(CURLE_FAILED_INIT);
    }
    auto reply = std::make_unique<response>();
    TextSink body{reply->body, sizeLimit};
    TextSink headers{reply->headers, sizeLimit};
    curl_easy_setopt(handle.get(), CURLOPT_URL, url.c_str());
    setRequestOptions(handle.get(), body, headers);
    setTimeLimit(handle.get(), timeLimitMs);
    performRequest(handle.get(), *reply, body, headers);
    return reply;
}

std::unique_ptr<response> post(const std::string& url, const char* const* headerLines,
                               int headerCount, const char* body, long bodySize, int timeLimitMs,
                               size_t sizeLimit) {
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
    TextSink replyBody{reply->body, sizeLimit};
    TextSink replyHeaders{reply->headers, sizeLimit};
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
    setRequestOptions(h, replyBody, replyHeaders);
    setTimeLimit(h, timeLimitMs);
    performRequest(h, *reply, replyBody, replyHeaders);
    return reply;
}

int32_t download(const std::string& url, const std::string& path, const ProgressFunction& progress,
                 resume_point* resume) {
    curl_off_t offset = 0;
    File file;
    if (resume != nullptr && !resume->validator.empty()) {
        file.reset(kv::platform::openForAppending(path).release());
        if (file && std::fseek(file.get(), 0, SEEK_END) == 0) {
            offset = std::max<curl_off_t>(0, std::ftell(file.get()));
        }
    }
    if (!file) {
        file.reset(kv::platform::createReplacing(path).release());
    }
    if (!file) {
        return kCannotOpenFile;
    }
    session transfer{EasyHandle(curl_easy_init()), progress};
    if (!transfer.handle) {
        return CURLE_FAILED_INIT;
    }
    HeaderList headers;
    if (offset > 0) {
        const std::string range = "Range: bytes=" + std::to_string(offset) + "-";
        const std::string validated = "If-Range: " + resume->validator;
        if (!appendHeader(headers, range.c_str()) || !appendHeader(headers, validated.c_str())) {
            return CURLE_OUT_OF_MEMORY;
        }
        curl_easy_setopt(transfer.handle.get(), CURLOPT_HTTPHEADER, headers.get());
    }
    ResumeSink sink{file.get(), offset, &transfer, {}};
    curl_easy_setopt(transfer.handle.get(), CURLOPT_HEADERFUNCTION, replyHeaderSink);
    curl_easy_setopt(transfer.handle.get(), CURLOPT_HEADERDATA, &sink.reply);
    curl_easy_setopt(transfer.handle.get(), CURLOPT_WRITEFUNCTION, resumeSink);
    curl_easy_setopt(transfer.handle.get(), CURLOPT_WRITEDATA, &sink);
    const CURLcode result = performStream(transfer, url);
    // Bytes still buffered may fail to reach the disk: that is a failed download too.
    const bool closed = std::fclose(file.release()) == 0;
    if (resume != nullptr) {
        resume->resumed = transfer.resumedFrom > 0;
        resume->validator = sink.misplaced ? std::string() : sink.reply.validator();
    }
    return result == CURLE_OK && !closed ? CURLE_WRITE_ERROR : result;
}

int32_t fetch(const std::string& url, std::string& text, const ProgressFunction& progress,
              size_t sizeLimit) {
    session transfer{EasyHandle(curl_easy_init()), progress};
    if (!transfer.handle) {
        return CURLE_FAILED_INIT;
    }
    // The limit counts what this transfer adds to the text.
    std::string body;
    TextSink sink{body, sizeLimit};
    setSizeLimit(transfer.handle.get(), sink);
    curl_easy_setopt(transfer.handle.get(), CURLOPT_TIMEOUT,
                     timeoutSeconds(kRequestTimeoutSeconds));
    const CURLcode performed = performStream(transfer, url);
    const CURLcode result = limitedResult(performed, sink.overflowed);
    text += body;
    return result;
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
    // The device's answer is only shown.
    ConsoleEcho echo;
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, echoSink);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &echo);
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

void globalInit() {
    curl_global_init(CURL_GLOBAL_DEFAULT);
}

void globalCleanup() {
    curl_global_cleanup();
}

} // namespace kvcurl
