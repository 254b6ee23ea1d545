#include "support/TempDatabase.h"

#include "base/Log.h"

#include <fstream>
#include <stdexcept>

namespace kv::test {

TempDatabase::TempDatabase() {
    if (!database_->open(file())) throw std::runtime_error("cannot open the test database");
}

int countLogLines(const std::string& first, const std::string& second) {
    int count = 0;
    for (int index = 0; index < 4; ++index) {
        std::ifstream file(Log::shared().getCurrentPathAtIndex(index));
        for (std::string line; std::getline(file, line);) {
            if (line.find(first) != std::string::npos && line.find(second) != std::string::npos) ++count;
        }
    }
    return count;
}

}  // namespace kv::test
