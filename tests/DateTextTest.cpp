#include "base/DateText.h"

#include <gtest/gtest.h>

namespace kv {
namespace {

TEST(DateText, ParsesBothTimestampFormsAsUtc) {
    const auto withMillis = toDate("2017-12-04T04:41:51.250");
    ASSERT_TRUE(withMillis);
    EXPECT_EQ(currentTimeMillis(*withMillis), 1512362511250u);
    EXPECT_EQ(currentTimeSeconds(*withMillis), 1512362511u);
    const auto whole = toDate("2017-12-04T04:41:51");
    ASSERT_TRUE(whole);
    EXPECT_EQ(currentTimeMillis(*whole), 1512362511000u);
}

TEST(DateText, RefusesTextsThatDoNotMatch) {
    for (const char* text : {"", "2017-12-04", "2017-12-04 04:41:51", "2017-12-04T04:41:51.25",
                             "2017-13-04T04:41:51", "2017-02-30T04:41:51", "2017-12-04T24:00:00",
                             "2017-12-04T04:41:51Z", "2017-12-04T04:41:51,250", "abcd-12-04T04:41:51"}) {
        EXPECT_FALSE(toDate(text)) << text;
    }
}

TEST(DateText, LocalFormsHaveTheirShapes) {
    const std::string date = currentDate();
    ASSERT_EQ(date.size(), 19u);
    EXPECT_EQ(date[10], 'T');
    const std::string text = toString();
    ASSERT_EQ(text.size(), 19u);
    EXPECT_EQ(text[10], ' ');
}

}  // namespace
}  // namespace kv
