// Fuzzes the decimal conversion of the parameters and the CPU column.
//
// The input, up to its first zero byte, is converted from an exact-size
// copy. The result must equal a reference that accumulates the digits in
// 64 bits reduced modulo 2^32 after each step and applies the sign last;
// for up to 18 digits, where nothing can overflow 64 bits, it must also equal
// the C library's strtoll reduced modulo 2^32.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <memory>

#include "../../watchdog/watchdog.h"

namespace {

constexpr int64_t two_to_32 = int64_t{1} << 32;

void check(bool condition) {
    if (!condition) abort();
}

int32_t reduce_to_int32(int64_t value) {
    int64_t reduced = value % two_to_32;
    if (reduced < 0) reduced += two_to_32;
    if (reduced >= two_to_32 / 2) reduced -= two_to_32;
    return static_cast<int32_t>(reduced);
}

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    size_t length = strnlen(reinterpret_cast<const char *>(data), size);
    std::unique_ptr<char[]> text(new char[length + 1]);
    memcpy(text.get(), data, length);
    text[length] = '\0';

    int32_t converted = decimal_to_int(text.get());

    const char *p = text.get();
    while (is_space(*p)) p++;
    bool negative = *p == '-';
    if (*p == '+' || *p == '-') p++;
    int64_t magnitude = 0;
    int digits = 0;
    for (; *p >= '0' && *p <= '9'; p++, digits++) magnitude = (magnitude * 10 + (*p - '0')) % two_to_32;
    check(converted == reduce_to_int32(negative ? -magnitude : magnitude));

    if (digits <= 18) check(converted == reduce_to_int32(strtoll(text.get(), nullptr, 10)));
    return 0;
}
