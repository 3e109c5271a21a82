#include <gtest/gtest.h>

#include "run/console.hpp"

namespace quorel {
namespace {

TEST(ConsoleTokens, IntegersAreWholeDecimalTokensClampedToInt32) {
    int32_t v = 0;
    EXPECT_TRUE(parse_int_token("42", v));
    EXPECT_EQ(v, 42);
    EXPECT_TRUE(parse_int_token("-7", v));
    EXPECT_EQ(v, -7);
    EXPECT_TRUE(parse_int_token("+3", v));
    EXPECT_EQ(v, 3);
    EXPECT_TRUE(parse_int_token("99999999999999999999", v));
    EXPECT_EQ(v, 2147483647);
    EXPECT_TRUE(parse_int_token("-99999999999999999999", v));
    EXPECT_EQ(v, -2147483647 - 1);
    for (const char* bad : {"", "-", "1.0", "1e3", "12abc", "0x10", " 1"}) EXPECT_FALSE(parse_int_token(bad, v)) << bad;
}

}  // namespace
}  // namespace quorel
