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

#include <optional>
#include <string>

namespace {

namespace portal = kv::portal;
using rapidjson::Value;

struct Progress {
    std::string product;
    int state;
    std::optional<std::string> text;
    int percent;
};

class Recorder : public portal::Core::Listener {
public:
    void updateProgress(portal::Core*, const char* productName, int state, const char* text,
                        int percent) override {
        progress.push_back(
            {productName, state, text ? std::optional<std::string>(text) : std::nullopt, percent});
    }
    void statusChanged(portal::Core*, const char*) override { ++statusChanges; }

    std::vector<Progress> progress;
    int statusChanges = 0;
};

struct Device {
    kv::test::CoreTestEnvironment environment;
    // Outlives the core, whose probe threads may still report while it closes.
    Recorder recorder;
    portal::Core core;
    portal::FirmwareUploader uploader{core, {}};
    portal::ProductPtr product;

    Device() {
        portal::Version version(1, 0, 0, 1);
        core.addProduct(portal::code::KORVEX_FIRMWARE, "Studio Korvex", "", version);
        product = core.findProduct("Studio Korvex");
        core.addListener(&recorder);
    }
};

Device& device() {
    static Device instance;
    return instance;
}

int intOf(const Value& object, const char* name) {
    const Value* value = portal::findMember(object, name);
    return value != nullptr && value->IsInt() ? value->GetInt() : 0;
}

// Failed (3) and finished (4) end the poll without a progress report; every other state is
// reported once with the object's percent and text.
void checkUpdateState(const Value& state) {
    Device& lab = device();
    const uint32_t before = portal::PendingUpdate;
    lab.core.setStatus(lab.product, before);
    lab.product->errorCode = 0;
    lab.recorder.progress.clear();
    lab.recorder.statusChanges = 0;

    const bool ends = lab.uploader.handleUpdateState(lab.product, state);
    const int expectedState = intOf(state, "state");
    FUZZ_CHECK(ends == (expectedState == 3 || expectedState == 4));
    // A status set is announced once.
    FUZZ_CHECK(lab.recorder.statusChanges == (lab.product->status == before ? 0 : 1));
    FUZZ_CHECK(lab.product->errorCode == (expectedState == 3 ? -1 : 0));
    if (ends) {
        FUZZ_CHECK(lab.recorder.progress.empty());
        return;
    }
    FUZZ_CHECK(lab.recorder.progress.size() == 1);
    const Progress& reported = lab.recorder.progress.front();
    FUZZ_CHECK(reported.product == "Studio Korvex");
    FUZZ_CHECK(reported.state == expectedState);
    FUZZ_CHECK(reported.percent == intOf(state, "percent"));
    const Value* text = portal::findMember(state, "text");
    if (text != nullptr && text->IsString()) {
        // The listener gets a C text: it ends at the first NUL.
        FUZZ_CHECK(reported.text == std::string(text->GetString()));
    } else {
        FUZZ_CHECK(!reported.text);
    }
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
    // The command service's answer: the data is the update-state object.
    checkUpdateState(*envelope);
    // The status service's answer: the object is the value the query selected.
    const Value* value = portal::findMember(*envelope, "value");
    if (value != nullptr && value->IsObject()) {
        checkUpdateState(*value);
    }
    // The other status queries read the value as a serial number or a truth value.
    if (value != nullptr) {
        FUZZ_CHECK(portal::textOf(*value).size() ==
                   (value->IsString() ? value->GetStringLength() : 0));
        FUZZ_CHECK(
            portal::isTrue(*value) ==
            (value->IsBool() ? value->GetBool() : value->IsNumber() && value->GetDouble() != 0.0));
    }
}
