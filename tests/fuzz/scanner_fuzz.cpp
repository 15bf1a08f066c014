// Fuzzes the process list scanner with any bytes, cut into any pieces.
//
// Input layout: byte 0 gives the count of cuts (0 to 7), byte 1 the value
// every field byte holds before the scan (the scanner only ever clears a
// field's first byte, so leftovers from earlier cycles are the normal case),
// then one byte per cut with the length of that piece; the rest is the list.
//
// Each piece is scanned from a heap copy of exactly its size and the fields
// are globals with AddressSanitizer red zones, so a read past a piece or a
// write past a field stops the run. The pieces must leave the scanner just
// as one scan of the whole list does, and both must agree with a reference
// that applies the documented rules to whole tokens.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <memory>
#include <string>

#include "../../watchdog/watchdog.h"

namespace {

char *const fields[5] = {image_name, process_id, column_3, column_4, cpu_usage};

struct scanner_snapshot {
    int state;
    int length;
    char bytes[5][field_capacity];
};

void check(bool condition) {
    if (!condition) abort();
}

void start(unsigned char fill) {
    for (char *field : fields) memset(field, fill, field_capacity);
    reset_scanner();
}

void take(scanner_snapshot &into) {
    into.state = scan_state;
    into.length = token_length;
    for (int i = 0; i < 5; i++) memcpy(into.bytes[i], fields[i], field_capacity);
}

void scan_copy(const uint8_t *bytes, size_t size) {
    std::unique_ptr<char[]> copy(new char[size]);
    if (size > 0) memcpy(copy.get(), bytes, size);
    scan_bytes(copy.get(), static_cast<int32_t>(size));
}

// The rules again, kept apart from the scanner's own buffers: a token is a
// string of at most 99 characters, a field is ended at a space only when its
// first byte is not zero, and FOUND comes after the fourth ended field.
struct reference_scanner {
    int state = SEEK_NAME;
    std::string token;
    bool first_byte_set[5] = {};
    std::string ended[5];
    int ended_fields = 0;

    void feed(unsigned char c) {
        if (state == FOUND) return;
        if (c == '\n') {
            token.clear();
            return;
        }
        if (c != ' ') {
            if (token.size() < 99) {
                if (token.empty()) first_byte_set[state] = c != 0;
                token.push_back(static_cast<char>(c));
            }
            return;
        }
        std::string text = token.substr(0, token.find('\0'));
        if (state == SEEK_NAME) {
            if (text == "map-server.exe") state = READ_PID;
        } else if (first_byte_set[state]) {
            ended[state] = text;
            ended_fields++;
            state++;
        }
        token.clear();
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 2) return 0;
    size_t cut_count = data[0] % 8u;
    unsigned char fill = data[1];
    if (size < 2 + cut_count) return 0;
    const uint8_t *cuts = data + 2;
    const uint8_t *list = cuts + cut_count;
    size_t list_size = size - 2 - cut_count;

    start(fill);
    scan_copy(list, list_size);
    scanner_snapshot whole;
    take(whole);

    start(fill);
    size_t from = 0;
    for (size_t i = 0; i < cut_count; i++) {
        size_t piece = cuts[i] < list_size - from ? cuts[i] : list_size - from;
        scan_copy(list + from, piece);
        from += piece;
    }
    scan_copy(list + from, list_size - from);
    scanner_snapshot pieces;
    take(pieces);

    check(pieces.state == whole.state);
    check(pieces.length == whole.length);
    check(memcmp(pieces.bytes, whole.bytes, sizeof whole.bytes) == 0);

    reference_scanner reference;
    for (size_t i = 0; i < list_size; i++) reference.feed(list[i]);
    check(whole.state == reference.state);
    check((whole.state == FOUND) == (reference.ended_fields == 4));
    check(whole.length == static_cast<int>(reference.token.size()));
    for (int i = READ_PID; i < whole.state; i++) {
        size_t length = strnlen(whole.bytes[i], field_capacity);
        check(length < static_cast<size_t>(field_capacity));
        check(std::string(whole.bytes[i], length) == reference.ended[i]);
    }
    return 0;
}
