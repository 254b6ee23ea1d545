#pragma once

#include "base/SharedObject.h"

#include <SQLiteCpp/Database.h>
#include <SQLiteCpp/Exception.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string_view>
#include <type_traits>

namespace kv {

// The service's one SQLite database, "keyvora.sqlite" in the store root. Used from the main
// queue only. Every failure is reported once as a database error and answered as no result.
class Database {
public:
    static constexpr const char* kFileName = "keyvora.sqlite";

    static Database& shared() { return Shared<Database>::get(); }

    // Opens (creating when missing) the file and every table. False, reported, on failure.
    bool open(const std::filesystem::path& file);
    void close();
    bool isOpen() const { return connection_ != nullptr; }

    void reportError(std::string_view message) const;

    // Runs work on the open connection. Its result, or nothing when the database is not open
    // or SQLite raised an error (which is reported).
    template <class Work>
    auto run(Work&& work) -> std::optional<std::invoke_result_t<Work, SQLite::Database&>> {
        if (!connection_) {
            reportError("the database is not open");
            return std::nullopt;
        }
        try {
            return work(*connection_);
        } catch (const SQLite::Exception& error) {
            reportError(error.what());
            return std::nullopt;
        }
    }

private:
    void createTables();

    std::unique_ptr<SQLite::Database> connection_;
};

}  // namespace kv
