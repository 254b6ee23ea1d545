#include "support/TempDatabase.h"

#include <stdexcept>

namespace kv::test {

TempDatabase::TempDatabase() {
    if (!database_->open(file())) throw std::runtime_error("cannot open the test database");
}

}  // namespace kv::test
