#include "store/Database.h"

#include "base/Log.h"
#include "store/Device.h"
#include "store/Exercise.h"
#include "store/Installation.h"
#include "store/PracticeMinutes.h"
#include "store/RecordTable.h"
#include "store/Song.h"
#include "store/User.h"

#include <string>

namespace kv {

bool Database::open(const std::filesystem::path& file) {
    try {
        connection_ = std::make_unique<SQLite::Database>(
            file.string(), SQLite::OPEN_READWRITE | SQLite::OPEN_CREATE);
        connection_->setBusyTimeout(5000);
        // WAL with full syncs: an answered save survives a crash or a power cut.
        connection_->exec("PRAGMA journal_mode=WAL");
        connection_->exec("PRAGMA synchronous=FULL");
        connection_->exec("PRAGMA foreign_keys=OFF");
        createTables();
        return true;
    } catch (const SQLite::Exception& error) {
        connection_.reset();
        reportError(error.what());
        return false;
    }
}

void Database::close() {
    connection_.reset();
}

void Database::reportError(std::string_view message) const {
    logText(kLogError, "Error from manipulate with database:" + std::string(message));
}

void Database::createTables() {
    connection_->exec(RecordTable<User>::createStatement());
    connection_->exec(RecordTable<Installation>::createStatement());
    connection_->exec(RecordTable<Device>::createStatement());
    connection_->exec(RecordTable<Song>::createStatement());
    connection_->exec(RecordTable<Exercise>::createStatement());
    connection_->exec(RecordTable<PracticeMinutes>::createStatement());
    // Every read of practice minutes purges by age, then fetches one user's song.
    connection_->exec(
        "CREATE INDEX IF NOT EXISTS PracticeMinutesByUserSong ON PracticeMinutes(clientID, songID)");
    connection_->exec(
        "CREATE INDEX IF NOT EXISTS PracticeMinutesByTimestamp ON PracticeMinutes(timestamp)");
}

}  // namespace kv
