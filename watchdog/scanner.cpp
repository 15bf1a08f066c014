// The process list scanner: finds the first "map-server.exe" token ended by a
// space and takes the four space-ended columns after it.
#include "watchdog.h"

int scan_state = SEEK_NAME;
int token_length = 0;
char image_name[field_capacity];
char process_id[field_capacity];
char column_3[field_capacity];
char column_4[field_capacity];
char cpu_usage[field_capacity];

static const char server_image_name[] = "map-server.exe";

static char *current_field() {
    switch (scan_state) {
    case SEEK_NAME: return image_name;
    case READ_PID: return process_id;
    case READ_COLUMN_3: return column_3;
    case READ_COLUMN_4: return column_4;
    case READ_CPU: return cpu_usage;
    default: return nullptr;
    }
}

// Compares as zero-terminated texts, so a zero byte inside a token ends it.
static bool is_server_name(const char *token) {
    int i = 0;
    while (token[i] != '\0' && token[i] == server_image_name[i]) i++;
    return token[i] == server_image_name[i];
}

void scan_bytes(const char *bytes, int32_t size) {
    for (int32_t i = 0; i < size && scan_state != FOUND; i++) {
        char c = bytes[i];
        char *field = current_field();
        if (c == '\n') {
            // A line feed restarts the token but neither ends the field nor
            // changes the state: the next line overwrites the field in place.
            token_length = 0;
        } else if (c != ' ') {
            // Carriage returns and tabs are token characters like any other.
            // Past 99 characters the rest of the token is dropped, so the
            // terminating zero always fits.
            if (token_length < field_capacity - 1) field[token_length++] = c;
        } else if (scan_state == SEEK_NAME) {
            image_name[token_length] = '\0';
            if (is_server_name(image_name)) scan_state = READ_PID;
            token_length = 0;
        } else {
            // Only the first byte tells whether a field is empty, so a run
            // of spaces before a column is skipped.
            if (field[0] != '\0') {
                field[token_length] = '\0';
                scan_state++;
            }
            token_length = 0;
        }
    }
}

void reset_scanner() {
    scan_state = SEEK_NAME;
    token_length = 0;
    image_name[0] = '\0';
    process_id[0] = '\0';
    column_3[0] = '\0';
    column_4[0] = '\0';
    cpu_usage[0] = '\0';
}
