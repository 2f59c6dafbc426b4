#include <gtest/gtest.h>

#include <climits>

#include "util/str_op.hpp"

using namespace VELKOR::STR_OP;

TEST(StrOp, SplitDropsEmptyPieces)
{
    struct Row {
        std::string text;
        char delimiter;
        std::vector<std::string> expected;
    };
    const Row rows[] = {
        {",a,,b,", ',', {"a", "b"}},
        {"a", ',', {"a"}},
        {"", ',', {}},
        {",,,", ',', {}},
        {"1 2  3", ' ', {"1", "2", "3"}},
        {"key=value=x", '=', {"key", "value", "x"}},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(str_split(row.text, row.delimiter), row.expected) << row.text;
    }
}

TEST(StrOp, RemoveSpacesDropsEveryWhiteSpaceKind)
{
    EXPECT_EQ(str_remove_spaces(" a\tb\nc\vd\fe\rf "), "abcdef");
    EXPECT_EQ(str_remove_spaces("\xC3\xA9 x"), "\xC3\xA9x"); // bytes above 0x7F are kept
    EXPECT_EQ(str_remove_spaces(""), "");
}

TEST(StrOp, StripAndStripFront)
{
    struct Row {
        std::string text, token, strip, strip_front;
    };
    const Row rows[] = {
        {"value#comment", "#", "value", "comment"}, {"#comment", "#", "", "comment"},
        {"no token", "#", "no token", ""},          {"a::b::c", "::", "a", "b::c"},
        {"type:int", "type:", "", "int"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(str_strip(row.text, row.token), row.strip) << row.text;
        EXPECT_EQ(str_strip_front(row.text, row.token), row.strip_front) << row.text;
    }
}

TEST(StrOp, StrToNumReadsLikeStreamExtraction)
{
    struct IntRow {
        std::string text;
        int value;
        bool error;
    };
    const IntRow int_rows[] = {
        {"42", 42, false},
        {"  -7", -7, false},
        {"12abc", 12, false},
        {"abc", 0, true},
        {"99999999999", INT_MAX, true},
        {"-99999999999", INT_MIN, true},
    };
    for (const IntRow& row : int_rows) {
        testing::internal::CaptureStderr();
        EXPECT_EQ(str_to_num<int>(row.text), row.value) << row.text;
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(err, row.error ? "ERROR :: Value (" + row.text + ") is out of integer range.\n" : "");
    }

    testing::internal::CaptureStderr();
    EXPECT_DOUBLE_EQ(str_to_num<double>(" 2.5e3x"), 2500.0);
    EXPECT_DOUBLE_EQ(str_to_num<double>("nope"), 0.0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "ERROR :: Value (nope) is out of integer range.\n");
}
