// Saves practice segments in a loop, numbered from <first>, and writes each number to standard
// output once its save has returned success: kv_practice_saver <database file> <first>
#include "base/SharedObject.h"
#include "store/Database.h"
#include "store/PracticeMinutesHelper.h"

#include <unistd.h>

#include <string>

int main(int argc, char** argv) {
    kv::SharedObject<kv::Database> database;
    if (argc < 3 || !database->open(argv[1])) return 2;
    for (long number = std::stol(argv[2]);; ++number) {
        kv::PracticeMinutes record;
        record.clientID = "1";
        record.songID = "2";
        record.seconds = std::to_string(number);
        record.rednote = std::string(200, 'r');
        if (!kv::PracticeMinutesHelper::insertPracticeMinutes(record)) return 1;
        const std::string line = record.seconds + "\n";
        if (write(STDOUT_FILENO, line.data(), line.size()) != static_cast<ssize_t>(line.size())) return 1;
    }
}
