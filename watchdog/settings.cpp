// The settings and the decimal conversion shared by start-up and the cycle.
#include "watchdog.h"

int32_t cpu_limit = 40;
int32_t check_interval = 40;

// uint32_t to int32_t modulo 2^32, without relying on implementation-defined
// narrowing.
static int32_t wrap_to_signed(uint32_t value) {
    if (value <= 0x7fffffffu) return static_cast<int32_t>(value);
    return static_cast<int32_t>(value - 0x80000000u) - 0x7fffffff - 1;
}

int32_t decimal_to_int(const char *text) {
    const char *p = text;
    while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\v' || *p == '\f' || *p == '\r') p++;
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = (*p == '-');
        p++;
    }
    // Unsigned arithmetic: a value past the 32-bit range wraps silently.
    uint32_t value = 0;
    while (*p >= '0' && *p <= '9') {
        value = value * 10u + static_cast<uint32_t>(*p - '0');
        p++;
    }
    return wrap_to_signed(negative ? 0u - value : value);
}
