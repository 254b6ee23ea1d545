#include "store/Condition.h"

#include "base/IdText.h"

#include <charconv>
#include <cstdlib>

namespace kv {

namespace {

// What SQLite makes of the unquoted literal: an integer when it fits, else a real.
std::variant<std::int64_t, double, std::string> numericValue(std::string_view literal) {
    std::string_view digits = literal;
    if (digits.starts_with('+')) digits.remove_prefix(1);
    std::int64_t integer = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), integer);
    if (error == std::errc() && end == digits.data() + digits.size()) return integer;
    return std::strtod(std::string(digits).c_str(), nullptr);
}

}  // namespace

Condition& Condition::refuse(std::string column, std::string_view value, const char* what) {
    if (!invalid_) {
        constexpr std::size_t kShown = 64;
        invalid_ = std::string(what) + " in condition on " + column + ": \"" +
                   std::string(value.substr(0, kShown)) + (value.size() > kShown ? "…\"" : "\"");
    }
    terms_.push_back({std::move(column), "=", std::string()});
    return *this;
}

Condition& Condition::number(std::string column, std::string_view op, std::string_view literal) {
    if (!isNumericLiteral(literal)) return refuse(std::move(column), literal, "not a number");
    terms_.push_back({std::move(column), std::string(op), numericValue(literal)});
    return *this;
}

Condition& Condition::number(std::string column, std::string_view op, std::int64_t value) {
    terms_.push_back({std::move(column), std::string(op), value});
    return *this;
}

Condition& Condition::id(std::string column, std::string_view text) {
    const auto value = int32FromIdText(text);
    if (!value) return refuse(std::move(column), text, "not a 32-bit id");
    terms_.push_back({std::move(column), "=", std::int64_t{*value}});
    return *this;
}

Condition& Condition::text(std::string column, std::string value) {
    terms_.push_back({std::move(column), "=", std::move(value)});
    return *this;
}

std::string Condition::whereClause() const {
    std::string clause;
    for (const auto& term : terms_) {
        clause += clause.empty() ? " WHERE " : " AND ";
        clause += "\"" + term.column + "\" " + term.op + " ?";
    }
    return clause;
}

void Condition::bind(SQLite::Statement& statement) const {
    int index = 1;
    for (const auto& term : terms_) {
        std::visit([&](const auto& value) { statement.bind(index, value); }, term.value);
        ++index;
    }
}

}  // namespace kv
