#include <gtest/gtest.h>

#include "../../watchdog/watchdog.h"

struct conversion_case {
    const char *text;
    int32_t value;
};

TEST(DecimalToInt, ConvertsLikeTheParametersAndTheCpuColumnNeed) {
    const conversion_case cases[] = {
        {"40", 40},
        {"50", 50},
        {"0", 0},
        {"", 0},
        {"abc", 0},
        {"-1", -1},
        {"75abc", 75},
        {"50 0", 50},          // one parameter with a space: only the leading digits count
        {"+7", 7},
        {"-0", 0},
        {"--5", 0},            // one sign only
        {"+-5", 0},
        {"- 5", 0},            // no white space after the sign
        {" \t\n\v\f\r12", 12}, // every kind of leading white space
        {"  -33x", -33},
        {"12 34", 12},
        {"007", 7},
        {"2147483647", 2147483647},
        {"2147483648", INT32_MIN},  // past the range: wraps
        {"-2147483648", INT32_MIN},
        {"4294967295", -1},
        {"4294967296", 0},
        {"4294967297", 1},
        {"-4294967297", -1},
        {"99999999999", 1215752191},  // 99999999999 mod 2^32
        {"-99999999999", -1215752191}, // the sign applied after the wrap
        {"18446744073709551617", 1},   // 2^64 + 1
        {"\x80" "5", 0},
    };
    for (const conversion_case &c : cases) EXPECT_EQ(decimal_to_int(c.text), c.value) << "text '" << c.text << "'";
}
