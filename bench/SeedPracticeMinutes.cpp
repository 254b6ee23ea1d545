// Fills the practice-minute table with <rows> recent segments, one per (user, song) pair of
// 100 users: kv_seed_practice <database file> <rows>
#include "base/DateText.h"
#include "base/SharedObject.h"
#include "store/Database.h"

#include <SQLiteCpp/Statement.h>
#include <SQLiteCpp/Transaction.h>

#include <string>

int main(int argc, char** argv) {
    kv::SharedObject<kv::Database> database;
    if (argc < 3 || !kv::Database::shared().open(argv[1])) return 2;
    const int rows = std::stoi(argv[2]);
    const auto now = static_cast<std::int64_t>(kv::currentTimeSeconds(std::chrono::system_clock::now()));
    const auto seeded = kv::Database::shared().run([&](SQLite::Database& connection) {
        SQLite::Transaction transaction(connection);
        SQLite::Statement insert(connection,
                                 "INSERT INTO PracticeMinutes (clientID, songID, seconds, rednote, predict, "
                                 "tempo, startMeasure, startTick, endMeasure, endTick, timestamp) "
                                 "VALUES (?, ?, '30', '2', '', '100', '1', '0', '8', '0', ?)");
        for (int i = 0; i < rows; ++i) {
            insert.bind(1, std::to_string(i % 100));
            insert.bind(2, std::to_string(i / 100));
            insert.bind(3, now);
            insert.exec();
            insert.reset();
        }
        transaction.commit();
        return true;
    });
    return seeded ? 0 : 1;
}
