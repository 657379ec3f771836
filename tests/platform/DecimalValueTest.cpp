#include <gtest/gtest.h>

#include <climits>

#include "platform/DecimalValue.h"

namespace kavrel {
namespace {

TEST(DecimalValueTest, ReadsLikeTheCLibrary) {
    struct Case {
        const char* text;
        int value;
    } cases[] = {
        {"", 0},        {"80", 80},      {"80x", 80},          {" 80", 80},
        {"\t\n 443", 443}, {"-1", -1},   {"+7", 7},            {"x80", 0},
        {"--1", 0},     {"- 1", 0},      {"65536", 65536},     {"0009000", 9000},
        {"3 4", 3},     {"99999999999999", INT_MAX}, {"-99999999999999", INT_MIN},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DecimalValue(std::string_view(c.text)), c.value) << '"' << c.text << '"';
    }
}

TEST(DecimalValueTest, WideTextGivesTheSameValue) {
    EXPECT_EQ(DecimalValue(std::u16string_view(u" 80x")), 80);
    EXPECT_EQ(DecimalValue(std::u16string_view(u"\u4e2d1")), 0);
}

}  // namespace
}  // namespace kavrel
