#include "core/device/DeviceInterface.h"
#include "core/device/DeviceReply.h"
#include "kvcurl/kvcurl.h"

namespace kv::portal {

namespace {

// A device that takes the command and never answers must not hold the update worker.
constexpr int kCommandTimeoutMs = 3000;

} // namespace

bool sendDeviceCommand(const ProductPtr& product, const std::string& command) {
    if (!product || !product->isFirmware() || !programUpdates(product->code)) {
        return false;
    }
    const char* const headers[] = {"Content-Type: application/json"};
    const auto reply = kvcurl::post(product->address.get() + ":8080/commands/" + command, headers,
                                    1, nullptr, 0, kCommandTimeoutMs, kDeviceReplySizeLimit);
    return reply->code == 200;
}

} // namespace kv::portal
