#pragma once

#include <SQLiteCpp/Statement.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace kv {

// The WHERE clause of a fetch: comparisons joined by AND, every value bound as a parameter.
// Values that identify users, songs and exercises were once written into the SQL text
// unquoted; they keep that rule (a value that is not a numeric literal fails the query) without
// ever becoming SQL.
class Condition {
public:
    // `column op value`, where value must be a numeric literal of at most 64 bytes: optional
    // sign, digits, optional fraction. Compared with a text column it matches exactly those
    // digits.
    Condition& number(std::string column, std::string_view op, std::string_view literal);
    Condition& number(std::string column, std::string_view op, std::int64_t value);
    // `column = value` for a user, song or exercise id: an integer that fits 32 bits, as the
    // records' ids do. Any other text (too long, "1abc", "99999999999") finds nothing.
    Condition& id(std::string column, std::string_view text);
    // `column = value`, an exact text comparison.
    Condition& text(std::string column, std::string value);

    bool empty() const { return terms_.empty(); }
    // " WHERE …", or nothing for an empty condition.
    std::string whereClause() const;
    // Why the condition cannot be evaluated, if it cannot.
    const std::optional<std::string>& invalid() const { return invalid_; }
    void bind(SQLite::Statement& statement) const;

private:
    using Value = std::variant<std::int64_t, double, std::string>;
    // A value the condition cannot use: the condition becomes invalid, reported once.
    Condition& refuse(std::string column, std::string_view value, const char* what);
    struct Term {
        std::string column;
        std::string op;
        Value value;
    };

    std::vector<Term> terms_;
    std::optional<std::string> invalid_;
};

}  // namespace kv
