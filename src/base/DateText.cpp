#include "base/DateText.h"

#include <cstdio>
#include <ctime>

namespace kv {

namespace {

std::string formatLocalNow(const char* pattern) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    const std::size_t length = std::strftime(text, sizeof text, pattern, &local);
    return std::string(text, length);
}

// Exactly `count` ASCII digits.
bool readDigits(std::string_view text, std::size_t at, std::size_t count, int& value) {
    if (at + count > text.size()) return false;
    value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

}  // namespace

std::string currentDate() {
    return formatLocalNow("%Y-%m-%dT%H:%M:%S");
}

std::string toString() {
    return formatLocalNow("%Y-%m-%d %H:%M:%S");
}

std::string utcText(Date date) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(date);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[32];
    return std::string(text, std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc));
}

std::optional<std::int64_t> toEpochMillis(std::string_view text) {
    const bool withMillis = text.size() == 23;
    if (text.size() != (withMillis ? 23u : 19u)) return std::nullopt;
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, millis = 0;
    const bool fieldsRead = readDigits(text, 0, 4, year) && text[4] == '-' &&
                            readDigits(text, 5, 2, month) && text[7] == '-' &&
                            readDigits(text, 8, 2, day) && text[10] == 'T' &&
                            readDigits(text, 11, 2, hour) && text[13] == ':' &&
                            readDigits(text, 14, 2, minute) && text[16] == ':' &&
                            readDigits(text, 17, 2, second) &&
                            (!withMillis || (text[19] == '.' && readDigits(text, 20, 3, millis)));
    if (!fieldsRead || hour > 23 || minute > 59 || second > 59) return std::nullopt;
    using namespace std::chrono;
    const year_month_day date{std::chrono::year(year), std::chrono::month(static_cast<unsigned>(month)),
                              std::chrono::day(static_cast<unsigned>(day))};
    if (!date.ok()) return std::nullopt;
    const sys_time<milliseconds> time = sys_days(date) + hours(hour) + minutes(minute) + seconds(second) + milliseconds(millis);
    return time.time_since_epoch().count();
}

std::optional<Date> toDate(std::string_view text) {
    using namespace std::chrono;
    const auto millis = toEpochMillis(text);
    constexpr auto limit = duration_cast<milliseconds>(Date::duration::max()).count() - 1000;
    if (!millis || *millis > limit || *millis < -limit) return std::nullopt;
    return Date(duration_cast<Date::duration>(milliseconds(*millis)));
}

std::uint64_t currentTimeSeconds(Date date) {
    using namespace std::chrono;
    return static_cast<std::uint64_t>(duration_cast<seconds>(date.time_since_epoch()).count());
}

std::uint64_t currentTimeMillis(Date date) {
    using namespace std::chrono;
    return static_cast<std::uint64_t>(duration_cast<milliseconds>(date.time_since_epoch()).count());
}

}  // namespace kv
