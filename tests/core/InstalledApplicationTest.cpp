#include "CoreTestEnvironment.h"
#include "core/Core.h"

#include <gtest/gtest.h>
#include <sys/time.h>

#include <filesystem>
#include <string>

using namespace kv::portal;
namespace fs = std::filesystem;

namespace {

class InstalledApplication : public ::testing::Test {
protected:
    std::string install(const std::string& peFile, const std::string& relativePath) {
        const std::string path = programFiles + relativePath;
        fs::create_directories(fs::path(path).parent_path());
        fs::copy_file(std::string(KV_TEST_PE_DIR) + "/" + peFile, path,
                      fs::copy_options::overwrite_existing);
        return path;
    }

    kv::test::CoreTestEnvironment environment;
    const std::string programFiles = environment.home() + "/Program Files";
};

} // namespace

TEST_F(InstalledApplication, VersionComesFromTheExecutablesResource) {
    const std::string path = install("application.exe", "/Kelmora Technologies/VORNET/VORNET.exe");
    Core core;
    core.addProduct(code::VORNET, "VORNET", "", Version());
    const ProductPtr vornet = core.findProduct("VORNET");
    EXPECT_EQ("4.3.2 b1", versionText(vornet->version.get()));
    EXPECT_EQ(path, vornet->address.get());
}

TEST_F(InstalledApplication, ThisProgramShowsTheVersionItWasBuiltAs) {
    install("application.exe", "/Kelmora Technologies/KVPortal/KVPortal.exe");
    Core core;
    core.addProduct(code::KVPORTAL, "KVPortal", "", Version());
    const ProductPtr portal = core.findProduct("KVPortal");
    EXPECT_EQ(KV_BUILT_VERSION, versionText(portal->version.get()));
    EXPECT_EQ(fs::canonical("/proc/self/exe").string(), portal->address.get());
    EXPECT_FALSE(portal->refreshInstalledVersion()) << "it cannot change while it runs";
}

TEST_F(InstalledApplication, CompanionPathsFollowTheirTable) {
    install("legacy.exe", "/Trennel RX 48 Toolkit/RX 48 Agent/RX48Agent.exe");
    Core core;
    core.addDevice("rx", "", {"vendor=Trennel", "product=RX 48"});
    EXPECT_EQ("1.2.3 b4", versionText(core.findProduct("RX48 Toolkit")->version.get()));
}

TEST_F(InstalledApplication, UnchangedFileIsNotReadAgainAndAChangedOneIs) {
    const std::string path = install("application.exe", "/Kelmora Technologies/VORNET/VORNET.exe");
    Product vornet(code::VORNET, "VORNET", "", Version());
    EXPECT_EQ("4.3.2 b1", versionText(vornet.version.get()));
    EXPECT_FALSE(vornet.refreshInstalledVersion());

    install("legacy.exe", "/Kelmora Technologies/VORNET/VORNET.exe");
    const timeval later[2] = {{2000000000, 0}, {2000000000, 0}};
    ASSERT_EQ(0, ::utimes(path.c_str(), later));
    EXPECT_TRUE(vornet.refreshInstalledVersion());
    EXPECT_EQ("1.2.3 b4", versionText(vornet.version.get()));
    EXPECT_EQ(2000000000, vornet.version.get().fileTime);
}

TEST_F(InstalledApplication, RemovedExecutableKeepsTheLastVersionRead) {
    const std::string path =
        install("application.exe", "/Kelmora Technologies/KVDiscovery/KVDiscovery.exe");
    Product discovery(code::KVDISCOVERY, "KVDiscovery", "", Version());
    fs::remove(path);
    EXPECT_FALSE(discovery.refreshInstalledVersion());
    EXPECT_EQ("4.3.2 b1", versionText(discovery.version.get()));
}

TEST_F(InstalledApplication, FileWithoutVersionResourceGivesNoVersion) {
    install("unversioned.exe", "/Kelmora Technologies/KVDiscovery/KVDiscovery.exe");
    Product discovery(code::KVDISCOVERY, "KVDiscovery", "", Version());
    EXPECT_EQ("None", versionText(discovery.version.get()));
}
