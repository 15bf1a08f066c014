// The watchdog's own small formatter, writing straight to the console.
#include <stdarg.h>

#include "../platform/platform.h"
#include "watchdog.h"

// Writes the zero-terminated `text`. Returns -1 as soon as a write fails.
static int put_text(const char *text) {
    for (const char *p = text; *p != '\0'; p++)
        if (platform_console_put(*p) != 0) return -1;
    return 0;
}

static int put_unsigned(uint32_t value) {
    char digits[10];
    int count = 0;
    do {
        digits[count++] = static_cast<char>('0' + value % 10u);
        value /= 10u;
    } while (value != 0);
    while (count > 0)
        if (platform_console_put(digits[--count]) != 0) return -1;
    return 0;
}

void print_message(const char *format, ...) {
    va_list args;
    va_start(args, format);
    for (const char *p = format; *p != '\0'; p++) {
        int result;
        if (p[0] == '%' && p[1] == 's') {
            result = put_text(va_arg(args, const char *));
            p++;
        } else if (p[0] == '%' && p[1] == 'u') {
            result = put_unsigned(va_arg(args, uint32_t));
            p++;
        } else if (p[0] == '%' && p[1] == '%') {
            result = platform_console_put('%');
            p++;
        } else {
            result = platform_console_put(*p);
        }
        if (result != 0) break;
    }
    va_end(args);
}
