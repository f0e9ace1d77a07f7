#include "DeviceSimulator.h"
#include "RecordingListener.h"
#include "SyncFixture.h"

namespace {

using namespace kv::portal;
using kv::test::DeviceSimulator;

class SyncTwins : public kv::test::SyncTest {};

TEST_F(SyncTwins, TwinTakesTheDanteEntryAndItsDeviceTheBaseEntry) {
    DeviceSimulator::Options options;
    options.danteCapable = true;
    options.danteRunning = false;
    options.version = "2.1.0b40";
    DeviceSimulator device(options);
    kv::test::RecordingListener probes;
    core->addListener(&probes);
    ASSERT_TRUE(core->addProduct(code::KORVEX_FIRMWARE, "Korvex Studio A", device.address(),
                                 Version(2, 1, 0, 40)));
    ASSERT_TRUE(probes.waitFor("probed Korvex Studio A"));
    core->removeListener(&probes);
    const ProductPtr korvex = core->findProduct("Korvex Studio A");
    ASSERT_TRUE(korvex && korvex->twin.get());
    const ProductPtr twin = korvex->twin.get();
    publish(R"({"products":[
        {"ID":"KORVEX-FIRMWARE-DANTE","IV":"4.2.0b7","IF":"korvex-dante.img","LK":"d"},
        {"ID":"KORVEX-FIRMWARE","IV":"2.1.0b40","IF":"korvex-ravenna.img","LK":"r"}]})");

    ASSERT_EQ(sync(), "");
    EXPECT_EQ(korvex->cloud.get()->fileName, "korvex-ravenna.img");
    EXPECT_EQ(twin->cloud.get()->fileName, "korvex-dante.img");
    EXPECT_EQ(korvex->statusText(), "Update To Date");
    // The twin's firmware is not the one running, so it is offered whatever its version.
    EXPECT_EQ(twin->statusText(), "Ready To Download");

    stopCore();
    EXPECT_EQ(logCount("Product(KORVEX-FIRMWARE-DANTE dante_Korvex Studio A 2.1.0 b40), "
                       "Cloud(4.2.0 b7)"),
              1u);
    EXPECT_EQ(logCount("Product(KORVEX-FIRMWARE Korvex Studio A 2.1.0 b40), Cloud(2.1.0 b40)"), 1u);
}

} // namespace
