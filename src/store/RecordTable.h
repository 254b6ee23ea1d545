#pragma once

#include "store/Condition.h"
#include "store/Database.h"

#include <SQLiteCpp/Statement.h>

#include <optional>
#include <string>
#include <tuple>
#include <type_traits>
#include <vector>

namespace kv {

// The table of one record class: named after it, `Id INTEGER PRIMARY KEY`, then its columns in
// order.
template <class Record>
class RecordTable {
public:
    static std::string createStatement() {
        std::string sql = std::string("CREATE TABLE IF NOT EXISTS \"") + Record::kTable +
                          "\" (\"Id\" INTEGER PRIMARY KEY";
        forEachColumn([&](const auto& column) {
            using Member = std::remove_cvref_t<decltype(std::declval<Record>().*column.member)>;
            sql += std::string(", \"") + column.name + "\" " +
                   (std::is_same_v<Member, std::string> ? "TEXT" : "INTEGER");
        });
        return sql + ")";
    }

    // The matching records in ascending Id, or nothing when the query failed (reported).
    static std::optional<std::vector<Record>> fetch(Database& database,
                                                    const Condition& condition = {}) {
        if (condition.invalid()) {
            database.reportError(*condition.invalid());
            return std::nullopt;
        }
        return database.run([&](SQLite::Database& connection) {
            SQLite::Statement query(connection, selectStatement() + condition.whereClause() +
                                                    " ORDER BY \"Id\"");
            condition.bind(query);
            std::vector<Record> records;
            while (query.executeStep()) records.push_back(read(query));
            return records;
        });
    }

    static std::optional<Record> first(Database& database, const Condition& condition = {}) {
        auto records = fetch(database, condition);
        if (!records || records->empty()) return std::nullopt;
        return std::move(records->front());
    }

    // Inserts, or updates every column of the record with the same Id. A record whose class
    // takes its Id from SQLite and has none yet is inserted and given one.
    static bool commit(Database& database, Record& record) {
        const bool withId = Record::kIdFromCaller || record.Id != 0;
        return database
            .run([&](SQLite::Database& connection) {
                SQLite::Statement upsert(connection, upsertStatement(withId));
                int index = 1;
                if (withId) upsert.bind(index++, record.Id);
                forEachColumn([&](const auto& column) { bindValue(upsert, index++, record.*column.member); });
                upsert.exec();
                if (!withId) record.Id = connection.getLastInsertRowid();
                return true;
            })
            .value_or(false);
    }

    // Deletes every matching record in one statement: all or none. False when the condition
    // cannot be evaluated (reported).
    static bool removeWhere(Database& database, const Condition& condition) {
        if (condition.invalid()) {
            database.reportError(*condition.invalid());
            return false;
        }
        return database
            .run([&](SQLite::Database& connection) {
                SQLite::Statement remove(connection, std::string("DELETE FROM \"") + Record::kTable +
                                                         "\"" + condition.whereClause());
                condition.bind(remove);
                remove.exec();
                return true;
            })
            .value_or(false);
    }

private:
    template <class Visit>
    static void forEachColumn(Visit&& visit) {
        std::apply([&](const auto&... column) { (visit(column), ...); }, Record::columns());
    }

    static std::string selectStatement() {
        std::string sql = "SELECT \"Id\"";
        forEachColumn([&](const auto& column) { sql += std::string(", \"") + column.name + "\""; });
        return sql + " FROM \"" + Record::kTable + "\"";
    }

    static std::string upsertStatement(bool withId) {
        std::string names = withId ? "\"Id\"" : "";
        std::string values = withId ? "?" : "";
        std::string updates;
        forEachColumn([&](const auto& column) {
            const std::string name = std::string("\"") + column.name + "\"";
            names += (names.empty() ? "" : ", ") + name;
            values += values.empty() ? "?" : ", ?";
            updates += (updates.empty() ? "" : ", ") + name + " = excluded." + name;
        });
        std::string sql = std::string("INSERT INTO \"") + Record::kTable + "\" (" + names +
                          ") VALUES (" + values + ")";
        if (withId) sql += " ON CONFLICT(\"Id\") DO UPDATE SET " + updates;
        return sql;
    }

    static Record read(SQLite::Statement& query) {
        Record record;
        record.Id = query.getColumn(0).getInt64();
        int index = 1;
        forEachColumn([&](const auto& column) { readValue(query.getColumn(index++), record.*column.member); });
        return record;
    }

    static void bindValue(SQLite::Statement& statement, int index, const std::string& value) {
        statement.bind(index, value);
    }
    static void bindValue(SQLite::Statement& statement, int index, std::int32_t value) {
        statement.bind(index, value);
    }
    static void bindValue(SQLite::Statement& statement, int index, bool value) {
        statement.bind(index, value ? 1 : 0);
    }

    static void readValue(const SQLite::Column& column, std::string& value) { value = column.getString(); }
    static void readValue(const SQLite::Column& column, std::int32_t& value) { value = column.getInt(); }
    static void readValue(const SQLite::Column& column, bool& value) { value = column.getInt() != 0; }
};

}  // namespace kv
