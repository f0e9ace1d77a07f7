#include "core/Core.h"
#include "core/device/DeviceInterface.h"

namespace kv::portal {

bool DeviceInterface::sendDeviceCommand(Core&, const ProductPtr& product,
                                        const std::string& command) {
    bool updatable = false;
    if (!product || !product->isFirmware(&updatable) || !updatable) {
        return false;
    }
    const char* const headers[] = {"Content-Type: application/json"};
    const auto reply =
        kvcurl::post(product->address.get() + ":8080/commands/" + command, headers, 1, nullptr, 0);
    return reply->code == 200;
}

} // namespace kv::portal
