#include "core/Product.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

using namespace kv::portal;

namespace {

Version parsed(const char* text) {
    Version version;
    version.parseVersion(text);
    return version;
}

class IgnoreBuild {
public:
    explicit IgnoreBuild(bool value) : saved_(ignoreBuild) { ignoreBuild = value; }
    ~IgnoreBuild() { ignoreBuild = saved_; }

private:
    bool saved_;
};

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
    const Version parts = parsed("1.2.3b45");
    EXPECT_EQ(parts.major, 1u);
    EXPECT_EQ(parts.minor, 2u);
    EXPECT_EQ(parts.revision, 3u);
    EXPECT_EQ(parts.build, 45u);
    Version untouched(4, 5, 6, 7);
    EXPECT_FALSE(untouched.parseVersion(nullptr));
    EXPECT_EQ("4.5.6 b7", versionText(untouched));
}

// The first differing number decides, as unsigned; the build counts unless builds are
// ignored; generation and file time never count.
TEST(VersionCompare, FirstDifferingNumberDecides) {
    struct Case {
        Version a;
        Version b;
        bool ignore;
        bool greater;
        bool differs;
    };
    Version generation(1, 0, 0, 0);
    generation.generation = 5;
    Version fileTime(1, 0, 0, 0);
    fileTime.fileTime = 1234;
    const Case cases[] = {
        {Version(1, 2, 3, 9), Version(1, 2, 3, 5), true, false, false},
        {Version(1, 2, 3, 9), Version(1, 2, 3, 5), false, true, true},
        {Version(1, 2, 3, 5), Version(1, 2, 3, 5), false, false, false},
        {Version(2, 0, 0, 0), Version(1, 9, 9, 9999), true, true, true},
        {Version(1, 9, 9, 9999), Version(2, 0, 0, 0), false, false, true},
        {Version(3000000000u, 0, 0, 0), Version(1, 0, 0, 0), true, true, true},
        {generation, fileTime, false, false, false},
    };
    for (const Case& c : cases) {
        IgnoreBuild setting(c.ignore);
        EXPECT_EQ(c.a > c.b, c.greater) << versionText(c.a) << " " << versionText(c.b);
        EXPECT_EQ(c.a != c.b, c.differs) << versionText(c.a) << " " << versionText(c.b);
    }
}

TEST(ApplicationBuild, HighBuildsKeepOnlyTheirLastFourDigits) {
    EXPECT_EQ(2690u, reducedApplicationBuild(32690));
    EXPECT_EQ(32689u, reducedApplicationBuild(32689));
    EXPECT_EQ(0u, reducedApplicationBuild(40000));
}

TEST(StatusText, NamesEveryStatus) {
    EXPECT_EQ("None", statusText(None, 0));
    EXPECT_EQ("Update To Date", statusText(UpToDate, 0));
    EXPECT_EQ("Ready To Download", statusText(ReadyToDownload, 0));
    EXPECT_EQ("Ready To Update", statusText(ReadyToUpdate, 0));
    EXPECT_EQ("No Cloud Information", statusText(NoCloudInformation, 0));
    EXPECT_EQ("Pending Download", statusText(PendingDownload, 0));
    EXPECT_EQ("Pending Update", statusText(PendingUpdate, 0));
    EXPECT_EQ("Downloading", statusText(Downloading, 0));
    EXPECT_EQ("Firmware Uploading", statusText(FirmwareUploading, 0));
    EXPECT_EQ("Firmware Updating", statusText(FirmwareUpdating, 0));
    EXPECT_EQ("Device Rebooting", statusText(DeviceRebooting, 0));
    EXPECT_EQ("Software Updating", statusText(SoftwareUpdating, 0));
    EXPECT_EQ("Verifying file md5", statusText(VerifyingMd5, 0));
    EXPECT_EQ("Download Error (22)", statusText(DownloadError, 22));
    EXPECT_EQ("Firmware Update Request", statusText(FirmwareUpdateRequest, 0));
    EXPECT_EQ("Firmware Update Error (-1)", statusText(FirmwareUpdateError, -1));
    EXPECT_EQ("Firmware Update Error (-3). Retrying...", statusText(FirmwareUpdateRetrying, -3));
    EXPECT_EQ("Software Updater Error (1603)", statusText(SoftwareUpdaterError, 1603));
    EXPECT_EQ("Resizing partitions", statusText(ResizingPartitions, 0));
    EXPECT_EQ("Firmware Update progress unavailable", statusText(ProgressUnavailable, 0));
    EXPECT_EQ("?", statusText(Evaluate, 0));
    EXPECT_EQ("?", statusText(25, 0));
}

TEST(ProductCodes, FamiliesAndTwins) {
    struct Case {
        ProductCode code;
        bool firmware;
        bool updatedHere;
        ProductCode twin;
        ProductCode companion;
    };
    const Case cases[] = {
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
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        EXPECT_EQ(c.firmware, isFirmwareCode(c.code));
        EXPECT_EQ(c.updatedHere, programUpdates(c.code));
        EXPECT_EQ(c.twin, danteTwinCode(c.code));
        EXPECT_EQ(c.companion, companionCode(c.code));
        if (c.twin != nullptr) {
            EXPECT_TRUE(isDanteCode(c.twin));
            EXPECT_FALSE(isDanteCode(c.code));
        }
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

TEST(ProductUpdate, AvailableWhenReleaseIsNewerOrModeIsNotRunning) {
    IgnoreBuild ignore(true);
    Product device(code::KORVEX_FIRMWARE, "Studio A", "10.0.0.1", Version(1, 2, 3, 0));
    EXPECT_FALSE(device.isUpdateAvailable());
    device.cloud.set(release(Version(1, 2, 3, 0)));
    EXPECT_FALSE(device.isUpdateAvailable());
    device.running = false;
    EXPECT_TRUE(device.isUpdateAvailable());
    device.running = true;
    device.cloud.set(release(Version(1, 2, 4, 0)));
    EXPECT_TRUE(device.isUpdateAvailable());
    EXPECT_EQ("None", device.statusText());
    device.status = DownloadError;
    device.errorCode = 7;
    EXPECT_EQ("Download Error (7)", device.statusText());
}

TEST(ProductApplication, MissingExecutableLeavesNoVersionButNamesItsPath) {
    ::setenv("KVPORTAL_PROGRAM_FILES", "/nonexistent-program-files", 1);
    Product vornet(code::VORNET, "VORNET", "", Version());
    EXPECT_EQ("None", versionText(vornet.version.get()));
    EXPECT_EQ("/nonexistent-program-files/Kelmora Technologies/VORNET/VORNET.exe",
              vornet.address.get());
    EXPECT_FALSE(vornet.refreshInstalledVersion());
}
