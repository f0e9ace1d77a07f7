#include "core/Core.h"
#include "core/device/DeviceInterface.h"
#include "core/device/DeviceReply.h"

namespace kv::portal {

namespace {

// A device that takes the command and never answers must not hold the update worker.
constexpr int kCommandTimeoutMs = 3000;

} // namespace

bool DeviceInterface::sendDeviceCommand(Core&, const ProductPtr& product,
                                        const std::string& command) {
    bool updatable = false;
    if (!product || !product->isFirmware(&updatable) || !updatable) {
        return false;
    }
    const char* const headers[] = {"Content-Type: application/json"};
    const auto reply = kvcurl::post(product->address.get() + ":8080/commands/" + command, headers,
                                    1, nullptr, 0, kCommandTimeoutMs, kDeviceReplySizeLimit);
    return reply->code == 200;
}

} // namespace kv::portal
