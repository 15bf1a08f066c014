// Fuzzes the command line parser of the POSIX interpreter srvwarden-cmd.exe.
//
// Any bytes are a command line. A refusal must be one line of text. An
// accepted line must hold none of the refused characters, must give words
// without blanks, '>' or backslashes, and must read back the same when the
// parsed command is written out again in its plainest form. That form uses
// backslashes, as the watchdog's own commands do: under "start" a word that
// begins with '/' is a switch, while one that begins with '\' is a path.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>

#include <string>

#include "command_parse.h"

namespace {

void check(bool condition) {
    if (!condition) abort();
}

bool is_plain_word(const std::string &word) {
    if (word.empty()) return false;
    for (char c : word)
        if (c == ' ' || c == '\t' || c == '>' || c == '\\') return false;
    return true;
}

const char *priority_switch(start_priority priority) {
    switch (priority) {
    case start_priority::low: return " /low";
    case start_priority::below_normal: return " /belownormal";
    case start_priority::normal: return "";
    case start_priority::above_normal: return " /abovenormal";
    case start_priority::high: return " /high";
    }
    return "";
}

std::string with_backslashes(std::string word) {
    for (char &c : word)
        if (c == '/') c = '\\';
    return word;
}

std::string written_out(const parsed_command &command) {
    std::string line = "/C";
    if (command.kind == command_kind::start) {
        line += " start";
        if (command.minimized) line += " /min";
        line += priority_switch(command.priority);
    }
    line += " " + with_backslashes(command.program);
    for (const std::string &argument : command.arguments) line += " " + with_backslashes(argument);
    if (!command.redirect.empty()) line += " > " + with_backslashes(command.redirect);
    return line;
}

bool same(const parsed_command &a, const parsed_command &b) {
    return a.kind == b.kind && a.program == b.program && a.arguments == b.arguments && a.redirect == b.redirect &&
           (a.kind == command_kind::run || (a.priority == b.priority && a.minimized == b.minimized));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string line(reinterpret_cast<const char *>(data), size);
    parsed_command command;
    std::string message = parse_command_line(line, &command);

    if (!message.empty()) {
        check(message.find('\n') == std::string::npos && message.find('\r') == std::string::npos);
        return 0;
    }

    for (char c : line) {
        unsigned char b = static_cast<unsigned char>(c);
        check(b >= 0x20 || c == '\t');
        check(b != 0x7f && c != '"' && c != '<' && c != '|' && c != '&' && c != '^' && c != '%');
    }
    check(line.find(">>") == std::string::npos);
    check(is_plain_word(command.program));
    for (const std::string &argument : command.arguments) check(is_plain_word(argument));
    check(command.redirect.empty() || is_plain_word(command.redirect));

    parsed_command again;
    check(parse_command_line(written_out(command), &again).empty());
    check(same(command, again));
    return 0;
}
