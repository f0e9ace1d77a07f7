// A device answers status queries and update-state requests with a JSON envelope; during a
// firmware update the poller hands the update-state object inside it to the core. The input is
// the body of one answer, read both ways the poller reads it.

#include "CoreTestEnvironment.h"
#include "FuzzCheck.h"
#include "core/Core.h"
#include "core/device/DeviceReply.h"
#include "core/json/JsonDocument.h"
#include "core/json/JsonValue.h"
#include "core/update/FirmwareUploader.h"

#include <string>

namespace {

namespace portal = kv::portal;
using rapidjson::Value;

class Recorder : public portal::Core::Listener {
public:
    void updateProgress(portal::Core*, const char* name, int state, const char* text,
                        int percent) override {
        reports.push_back(std::string(name) + "|" + std::to_string(state) + "|" +
                          (text ? text : "null") + "|" + std::to_string(percent));
    }

    std::vector<std::string> reports;
};

struct Device {
    kv::test::CoreTestEnvironment environment;
    // Outlives the core, whose probe threads may still report while it closes.
    Recorder recorder;
    portal::Core core;
    portal::FirmwareUploader uploader{core, {}};
    portal::ProductPtr product;

    Device() {
        core.addProduct(portal::code::KORVEX_FIRMWARE, "Studio Korvex", "", {1, 0, 0, 1});
        product = core.findProduct("Studio Korvex");
        core.addListener(&recorder);
    }
};

int intOf(const Value& object, const char* name) {
    const Value* value = portal::findMember(object, name);
    return value != nullptr && value->IsInt() ? value->GetInt() : 0;
}

// Failed (3) and finished (4) end the poll without a progress report; every other state is
// reported once with the object's percent and text.
void checkUpdateState(const Value& state) {
    static Device lab;
    lab.core.setStatus(lab.product, portal::PendingUpdate);
    lab.product->errorCode = 0;
    lab.recorder.reports.clear();
    const int expected = intOf(state, "state");
    const bool ends = lab.uploader.handleUpdateState(lab.product, state);
    FUZZ_CHECK(ends == (expected == 3 || expected == 4));
    FUZZ_CHECK(lab.product->errorCode == (expected == 3 ? -1 : 0));
    const Value* text = portal::findMember(state, "text");
    const std::string report = "Studio Korvex|" + std::to_string(expected) + "|" +
                               (text && text->IsString() ? text->GetString() : "null") + "|" +
                               std::to_string(intOf(state, "percent"));
    FUZZ_CHECK(lab.recorder.reports ==
               (ends ? std::vector<std::string>{} : std::vector<std::string>{report}));
}

} // namespace

FUZZ_TARGET(body) {
    portal::JsonDocument reply;
    portal::parseJson(reply, body.c_str());
    // The envelope counts only with "error" exactly "Success" and an object "data".
    const Value* envelope = portal::successData(reply);
    if (envelope == nullptr) {
        return;
    }
    FUZZ_CHECK(envelope->IsObject() && envelope == portal::findMember(reply, "data"));
    FUZZ_CHECK(portal::textOf(portal::member(reply, "error")) == "Success");
    // The command service's answer is the update-state object; the status service's holds it
    // as the value the query selected, which other queries read as a serial or a truth value.
    checkUpdateState(*envelope);
    const Value* value = portal::findMember(*envelope, "value");
    if (value != nullptr && value->IsObject()) {
        checkUpdateState(*value);
    }
    if (value != nullptr) {
        FUZZ_CHECK(portal::textOf(*value).size() ==
                   (value->IsString() ? value->GetStringLength() : 0));
        FUZZ_CHECK(
            portal::isTrue(*value) ==
            (value->IsBool() ? value->GetBool() : value->IsNumber() && value->GetDouble() != 0.0));
    }
}
