#include "store/CachePaths.h"
#include "store/DeviceHelper.h"
#include "store/File.h"
#include "store/PathComponent.h"

#include "support/TempDatabase.h"

#include <gtest/gtest.h>

namespace kv {
namespace {

Device namedDevice(const std::string& name) {
    Device device;
    device.deviceId = device.deviceName = name;
    return device;
}

class StoreTest : public ::testing::Test {
protected:
    test::TempDatabase database_;
};

// Marking another device latest is a reset and an update: when the update fails, none is latest.
TEST_F(StoreTest, DevicesSharingAPortNameAreTwoRecordsAndOneAtMostIsLatest) {
    const DeviceHelper devices(Database::shared());
    Device plain = namedDevice("Piano");
    Device second = namedDevice("Piano 2");
    ASSERT_TRUE(devices.insertDevice(plain));
    ASSERT_TRUE(devices.insertDevice(second));
    EXPECT_EQ(devices.getAllDevices().size(), 2u);
    EXPECT_EQ(devices.getDeviceByName("Piano 2")->Id, second.Id);
    plain.isLatest = true;
    ASSERT_TRUE(devices.updateDevice(plain));
    EXPECT_TRUE(devices.resetIsLatest());
    Database::shared().close();
    second.isLatest = true;
    EXPECT_FALSE(devices.updateDevice(second));
    EXPECT_FALSE(devices.resetIsLatest()) << "a failure is reported";
    ASSERT_TRUE(Database::shared().open(database_.file()));
    for (const auto& device : devices.getAllDevices()) EXPECT_FALSE(device.isLatest) << device.deviceName;
}

TEST(PathComponent, RefusesWhatCouldLeaveItsFolder) {
    for (const std::string& safe : {std::string("123"), std::string("vi-VN"), std::string("song 7"), std::string("ü"),
                                   std::string(64, '1')}) {
        EXPECT_TRUE(isSafePathComponent(safe)) << safe;
    }
    for (const std::string& unsafe : {std::string(), std::string("."), std::string(".."), std::string("../x"),
                                     std::string("a/b"), std::string("a\\b"), std::string("a\0b", 3),
                                     std::string("a\nb"), std::string(65, '1')}) {
        EXPECT_FALSE(isSafePathComponent(unsafe)) << unsafe;
    }
    EXPECT_FALSE(getMidiCacheFolderPathWithSongID("../../.bashrc"));
    EXPECT_FALSE(createXMLCacheFolderPathWithSongID("12", "../en"));
}

TEST(File, WritesAtomicallyAndDeletesFolders) {
    test::TempDirectory folder;
    const auto target = folder.path() / "file";
    const std::vector<std::uint8_t> second(100000, 9);
    ASSERT_TRUE(File::writeToFileWithURL(target, std::vector<std::uint8_t>{1, 2, 3}));
    ASSERT_TRUE(File::writeToFileWithURL(target, second));
    EXPECT_EQ(File::readFromFileToDataWithURL(target), second);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()), {}), 1) << "no temporaries";
    EXPECT_FALSE(File::writeToFileWithURL(folder.path() / "missing" / "file", second));
    EXPECT_FALSE(File::readFromFileToDataWithURL(folder.path() / "missing"));
    std::filesystem::create_directories(folder.path() / "tree" / "leaf");
    EXPECT_TRUE(File::deleteFileWithFilePath(folder.path() / "tree"));
    EXPECT_FALSE(File::isFileExistWithFilePath(folder.path() / "tree"));
    EXPECT_FALSE(File::deleteFileWithFilePath(folder.path() / "tree"));
}

}  // namespace
}  // namespace kv
