#pragma once

#include "base/SharedObject.h"
#include "store/Database.h"

#include "support/TempDirectory.h"

#include <filesystem>

namespace kv::test {

// The service's database for one test: a fresh file, Database::shared() while it lives.
class TempDatabase {
public:
    TempDatabase();
    TempDatabase(const TempDatabase&) = delete;
    TempDatabase& operator=(const TempDatabase&) = delete;

    std::filesystem::path file() const { return folder_.path() / "keyvora.sqlite"; }
    const std::filesystem::path& folder() const { return folder_.path(); }

private:
    TempDirectory folder_;
    SharedObject<Database> database_;
};

}  // namespace kv::test
