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

TEST(VersionParse, ReadsDotsAndBuildMarker) {
    const Version version = parsed("1.2.3b45");
    EXPECT_EQ(1u, version.major);
    EXPECT_EQ(2u, version.minor);
    EXPECT_EQ(3u, version.revision);
    EXPECT_EQ(45u, version.build);
    EXPECT_EQ("1.2.3 b45", versionText(version));
}

TEST(VersionParse, ShortAndEmptyTextsFillZeros) {
    EXPECT_EQ("1.2.0 b0", versionText(parsed("1.2")));
    EXPECT_EQ("None", versionText(parsed("")));
    EXPECT_FALSE(parsed("").isValid());
    EXPECT_TRUE(parsed("0.0.0b1").isValid());
}

TEST(VersionParse, NullTextChangesNothing) {
    Version version(4, 5, 6, 7);
    EXPECT_FALSE(version.parseVersion(nullptr));
    EXPECT_EQ("4.5.6 b7", versionText(version));
}

TEST(VersionParse, KeepsGenerationAndFileTime) {
    Version version;
    version.generation = 3;
    version.fileTime = 99;
    version.parseVersion("2.0");
    EXPECT_EQ(3u, version.generation);
    EXPECT_EQ(99, version.fileTime);
}

TEST(VersionParse, SegmentsWithoutDigitsReadAsZero) {
    EXPECT_EQ("0.2.0 b7", versionText(parsed("x.2.rc1b7")));
    EXPECT_EQ("1.0.0 b0", versionText(parsed("1.beta")));
}

TEST(VersionParse, HostileTextsAreReadSafely) {
    EXPECT_EQ("1.2.3 b4", versionText(parsed("1.2.3.4.5.6.7")));
    EXPECT_EQ("4294967295.1.0 b0", versionText(parsed("99999999999999999999999999999999999999.1")));
    EXPECT_EQ("4294967295.0.0 b0", versionText(parsed("4294967296")));
    EXPECT_EQ("7.0.0 b0", versionText(parsed(("7." + std::string(5000, '.')).c_str())));
    EXPECT_EQ("None", versionText(parsed(std::string(100000, 'b').c_str())));
}

TEST(VersionCompare, IgnoresBuildWhileIgnoreBuildIsSet) {
    IgnoreBuild ignore(true);
    EXPECT_FALSE(Version(1, 2, 3, 9) > Version(1, 2, 3, 5));
    EXPECT_FALSE(Version(1, 2, 3, 9) != Version(1, 2, 3, 5));
}

TEST(VersionCompare, ComparesBuildOtherwise) {
    IgnoreBuild ignore(false);
    EXPECT_TRUE(Version(1, 2, 3, 9) > Version(1, 2, 3, 5));
    EXPECT_TRUE(Version(1, 2, 3, 9) != Version(1, 2, 3, 5));
    EXPECT_FALSE(Version(1, 2, 3, 5) > Version(1, 2, 3, 5));
}

TEST(VersionCompare, FirstDifferingNumberDecidesAsUnsigned) {
    for (bool ignore : {true, false}) {
        IgnoreBuild setting(ignore);
        EXPECT_TRUE(Version(2, 0, 0, 0) > Version(1, 9, 9, 9999));
        EXPECT_FALSE(Version(1, 9, 9, 9999) > Version(2, 0, 0, 0));
        EXPECT_TRUE(Version(3000000000u, 0, 0, 0) > Version(1, 0, 0, 0));
    }
}

TEST(VersionCompare, GenerationAndFileTimeNeverCount) {
    IgnoreBuild ignore(false);
    Version a(1, 0, 0, 0);
    Version b(1, 0, 0, 0);
    a.generation = 5;
    b.fileTime = 1234;
    EXPECT_FALSE(a != b);
    EXPECT_FALSE(a > b);
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
