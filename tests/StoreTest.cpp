#include "store/CachePaths.h"
#include "store/DeviceHelper.h"
#include "store/ExerciseHelper.h"
#include "store/File.h"
#include "store/InstallationHelper.h"
#include "store/PathComponent.h"
#include "store/RecordTable.h"
#include "store/SongHelper.h"
#include "store/UserHelper.h"

#include "support/TempDatabase.h"

#include <SQLiteCpp/Database.h>
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
    void reopen() {
        Database::shared().close();
        ASSERT_TRUE(Database::shared().open(database_.file()));
    }
    test::TempDatabase database_;
};

TEST_F(StoreTest, RecordsAreInsertedUpdatedAndKeptAcrossReopening) {
    User user;
    user.Id = 42;
    user.token = "t1";
    user.speakerPcVelocity = 80;
    ASSERT_TRUE(UserHelper::insertUser(user));
    user.token = "t2";
    user.speakerPc = true;
    ASSERT_TRUE(UserHelper::updateUser(user));
    Song song;
    song.Id = 7;
    song.lastModifiedDate = "a";
    ASSERT_TRUE(SongHelper::insertSong(song));
    song.lastModifiedDate = "b";
    ASSERT_TRUE(SongHelper::updateSong(song));
    Exercise exercise;
    exercise.Id = 7;
    ASSERT_TRUE(ExerciseHelper::insertExercise(exercise));
    Device device = namedDevice("Piano");
    device.lowestNote = 21;
    device.highestNote = 108;
    ASSERT_TRUE(DeviceHelper::insertDevice(device));
    reopen();

    const auto stored = UserHelper::getUserByID("42");
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->token, "t2");
    EXPECT_TRUE(stored->speakerPc);
    EXPECT_EQ(stored->speakerPcVelocity, 80);
    EXPECT_EQ(RecordTable<User>::fetch(Database::shared())->size(), 1u);
    EXPECT_EQ(SongHelper::getSongByID("7")->lastModifiedDate, "b");
    EXPECT_TRUE(ExerciseHelper::getExcerciseByID("+7"));
    EXPECT_EQ(DeviceHelper::getDeviceByName("Piano")->lowestNote, 21);
    EXPECT_EQ(DeviceHelper::getDeviceByName("Piano")->highestNote, 108);
}

// Ids are bound values: SQL in them finds, changes and drops nothing.
TEST_F(StoreTest, IdsThatAreNotNumbersFindNothingAndChangeNothing) {
    User user;
    user.Id = 1;
    ASSERT_TRUE(UserHelper::insertUser(user));
    for (const char* id : {"abc", "1 OR 1=1 --", "", "1; DROP TABLE User", "../x", "1) OR (1=1"}) {
        EXPECT_FALSE(UserHelper::getUserByID(id)) << id;
        EXPECT_FALSE(SongHelper::getSongByID(id)) << id;
        EXPECT_FALSE(ExerciseHelper::getExcerciseByID(id)) << id;
    }
    EXPECT_FALSE(DeviceHelper::getDeviceByName("x' OR '1'='1"));
    SQLite::Database check(database_.file().string());
    EXPECT_EQ(check.execAndGet("SELECT count(*) FROM User").getInt(), 1);
}

TEST_F(StoreTest, TheFirstInstallationIsTheOneReported) {
    EXPECT_FALSE(InstallationHelper::getInstallationID());
    Installation first, second;
    first.installationId = "FIRST";
    second.installationId = "SECOND";
    ASSERT_TRUE(InstallationHelper::insertNewInstallationID(first));
    ASSERT_TRUE(InstallationHelper::insertNewInstallationID(second));
    EXPECT_NE(first.Id, second.Id);
    EXPECT_EQ(InstallationHelper::getInstallationID()->installationId, "FIRST");
}

// Marking another device latest is a reset and an update: when the update fails, none is latest.
TEST_F(StoreTest, DevicesSharingAPortNameAreTwoRecordsAndOneAtMostIsLatest) {
    Device plain = namedDevice("Piano");
    Device second = namedDevice("Piano 2");
    ASSERT_TRUE(DeviceHelper::insertDevice(plain));
    ASSERT_TRUE(DeviceHelper::insertDevice(second));
    EXPECT_EQ(DeviceHelper::getAllDevices().size(), 2u);
    EXPECT_EQ(DeviceHelper::getDeviceByName("Piano 2")->Id, second.Id);
    plain.isLatest = true;
    ASSERT_TRUE(DeviceHelper::updateDevice(plain));
    EXPECT_TRUE(DeviceHelper::resetIsLatest());
    Database::shared().close();
    second.isLatest = true;
    EXPECT_FALSE(DeviceHelper::updateDevice(second));
    EXPECT_FALSE(DeviceHelper::resetIsLatest()) << "a failure is reported";
    ASSERT_TRUE(Database::shared().open(database_.file()));
    for (const auto& device : DeviceHelper::getAllDevices()) EXPECT_FALSE(device.isLatest) << device.deviceName;
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
