#include "core/Product.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

using namespace kv::portal;

namespace {

Product::CloudPtr release(const Version& version, const std::string& fileName = "pkg.bin") {
    auto cloud = std::make_shared<Product::Cloud>();
    cloud->version = version;
    cloud->fileName = fileName;
    return cloud;
}

} // namespace

// Short texts fill zeros, segments without digits read as zero, hostile texts saturate or
// stop; what parsing leaves alone (generation, file time) stays.
TEST(VersionParse, ReadsDotsAndBuildMarkerWhateverTheText) {
    const std::pair<std::string, const char*> texts[] = {
        {"1.2.3b45", "1.2.3 b45"},
        {"1.2", "1.2.0 b0"},
        {"", "None"},
        {"0.0.0b1", "0.0.0 b1"},
        {"x.2.rc1b7", "0.2.0 b7"},
        {"1.beta", "1.0.0 b0"},
        {"1.2.3.4.5.6.7", "1.2.3 b4"},
        {"99999999999999999999999999999999999999.1", "4294967295.1.0 b0"},
        {"4294967296", "4294967295.0.0 b0"},
        {"7." + std::string(5000, '.'), "7.0.0 b0"},
        {std::string(100000, 'b'), "None"},
    };
    for (const auto& [text, shown] : texts) {
        Version version;
        version.generation = 3;
        version.fileTime = 99;
        version.parseVersion(text.c_str());
        EXPECT_EQ(versionText(version), shown) << text.substr(0, 40);
        EXPECT_EQ(version.isValid(), std::string(shown) != "None") << text.substr(0, 40);
        EXPECT_EQ(version.generation, 3u);
        EXPECT_EQ(version.fileTime, 99);
    }
    Version untouched(4, 5, 6, 7);
    EXPECT_FALSE(untouched.parseVersion(nullptr));
    EXPECT_EQ("4.5.6 b7", versionText(untouched));
}

// The first differing number decides, as unsigned; the build counts unless builds are
// ignored; generation and file time never count.
TEST(VersionCompare, FirstDifferingNumberDecides) {
    Version generation(1, 0, 0, 0);
    generation.generation = 5;
    Version fileTime(1, 0, 0, 0);
    fileTime.fileTime = 1234;
    const std::tuple<Version, Version, bool, bool, bool> cases[] = {
        {Version(1, 2, 3, 9), Version(1, 2, 3, 5), true, false, false},
        {Version(1, 2, 3, 9), Version(1, 2, 3, 5), false, true, true},
        {Version(1, 2, 3, 5), Version(1, 2, 3, 5), false, false, false},
        {Version(2, 0, 0, 0), Version(1, 9, 9, 9999), true, true, true},
        {Version(1, 9, 9, 9999), Version(2, 0, 0, 0), false, false, true},
        {Version(3000000000u, 0, 0, 0), Version(1, 0, 0, 0), true, true, true},
        {generation, fileTime, false, false, false},
    };
    for (const auto& [a, b, ignore, greater, differs] : cases) {
        ignoreBuild = ignore;
        EXPECT_EQ(a > b, greater) << versionText(a) << " " << versionText(b);
        EXPECT_EQ(a != b, differs) << versionText(a) << " " << versionText(b);
    }
}

TEST(ApplicationBuild, HighBuildsKeepOnlyTheirLastFourDigits) {
    EXPECT_EQ(2690u, reducedApplicationBuild(32690));
    EXPECT_EQ(32689u, reducedApplicationBuild(32689));
    EXPECT_EQ(0u, reducedApplicationBuild(40000));
}

TEST(StatusText, NamesEveryStatus) {
    std::string texts;
    for (uint32_t status = None; status <= Evaluate + 1; ++status) {
        texts += statusText(status, static_cast<int32_t>(status) - 20) + "|";
    }
    EXPECT_EQ(texts, "None|Update To Date|Ready To Download|Ready To Update|No Cloud Information|"
                     "Pending Download|Pending Update|Downloading|Firmware Uploading|Firmware "
                     "Updating|Device Rebooting|Software Updating|Verifying file md5|Download "
                     "Error (-7)|Firmware Update Request|Firmware Update Error (-5)|Firmware "
                     "Update Error (-4). Retrying...|Software Updater Error (-3)|Resizing "
                     "partitions|Firmware Update progress unavailable|?|?|");
}

TEST(ProductCodes, FamiliesAndTwins) {
    const std::tuple<ProductCode, bool, bool, ProductCode, ProductCode> cases[] = {
        {code::KORVEX_FIRMWARE, true, true, code::KORVEX_FIRMWARE_DANTE,
         code::KORVEX_REMOTE_CONTROLLER},
        {code::KORVEX_FIRMWARE_DANTE, true, true, nullptr, nullptr},
        {code::RX48_FIRMWARE, true, true, code::RX48_FIRMWARE_DANTE, code::RX48_TOOLKIT_CONTROLLER},
        {code::VESK_III_FIRMWARE, true, true, code::VESK_III_FIRMWARE_DANTE, nullptr},
        {code::VESK_FIRMWARE, true, false, nullptr, nullptr},
        {code::PELRA_FIRMWARE, true, false, nullptr, nullptr},
        {code::KVPORTAL, false, false, nullptr, nullptr},
        {code::VORNET, false, true, nullptr, nullptr},
    };
    for (const auto& [code, firmware, updatedHere, twin, companion] : cases) {
        SCOPED_TRACE(code);
        EXPECT_EQ(firmware, isFirmwareCode(code));
        EXPECT_EQ(updatedHere, programUpdates(code));
        EXPECT_EQ(twin, danteTwinCode(code));
        EXPECT_EQ(companion, companionCode(code));
        EXPECT_EQ(isDanteCode(code), std::string(code).find("DANTE") != std::string::npos);
    }
    // Kinds are the constants themselves, not their texts.
    const std::string sameText = "KVPORTAL";
    EXPECT_FALSE(isFirmwareCode(sameText.c_str()));
    EXPECT_EQ(nullptr, executablePath(sameText.c_str()));
}

TEST(ProductPackage, PathDependsOnFamilyAndRelease) {
    Product portal(code::KVPORTAL, "KVPortal", "", Version(1, 0, 0, 0));
    EXPECT_EQ("", portal.downloadPath("/d/KV", true));
    portal.cloud.set(release(Version(2, 0, 0, 0), "setup.exe"));
    EXPECT_EQ("/d/KV/Software/setup.exe", portal.downloadPath("/d/KV", true));
    EXPECT_EQ("/d/KV/Software", portal.downloadPath("/d/KV", false));

    Product pelra(code::PELRA_FIRMWARE, "Pelra 1", "10.0.0.1", Version(1, 0, 0, 0));
    pelra.cloud.set(release(Version(2, 0, 0, 0), "pelra.bin"));
    EXPECT_EQ("/d/KV/Firmware/pelra.bin", pelra.downloadPath("/d/KV", true));
    // A file name that leads out of the folder names no file at all.
    pelra.cloud.set(release(Version(2, 0, 0, 0), "../../../.bashrc"));
    EXPECT_EQ("", pelra.downloadPath("/d/KV", true));
    EXPECT_EQ("/d/KV/Firmware", pelra.downloadPath("/d/KV", false));
}
