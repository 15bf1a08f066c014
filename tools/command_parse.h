// The command line grammar of srvwarden-cmd.exe, our POSIX stand-in for the
// Windows command interpreter. It understands what the watchdog's three
// commands need and nothing more:
//
//   /C program [argument ...] [> file]
//   /C start [/min] [/low | /belownormal | /normal | /abovenormal | /high] program [argument ...] [> file]
//
// Words are separated by spaces or tabs; leading and trailing ones are
// ignored. "/C" and "start" and its switches are matched without regard to
// case. '>' needs no space around it and may stand anywhere after "/C".
#pragma once

#include <string>
#include <vector>

enum class command_kind {
    run,    // run the program and wait for it
    start,  // launch the program detached and return at once
};

// The priority `start` asks for. The names are those of the Windows switches.
enum class start_priority { low, below_normal, normal, above_normal, high };

struct parsed_command {
    command_kind kind = command_kind::run;
    std::string program;                 // backslashes already turned into slashes
    std::vector<std::string> arguments;  // likewise
    std::string redirect;                // the file for standard output; empty: none
    start_priority priority = start_priority::normal;
    bool minimized = false;  // "/min": accepted, and without effect where there are no windows
};

// Parses `line`, the whole command line as the interpreter received it.
// Returns "" and fills `out` when the line is one of the shapes above;
// otherwise returns a one-line message saying what is not understood (no
// line end) and leaves `out` in an unspecified state. Pure: no I/O, no
// global state; any byte sequence is accepted as input.
//
// Characters that carry meaning for the Windows interpreter which this one
// does not implement ('"', '<', '|', '&', '^', '%', ">>", "2>"), and control
// characters other than tab, are refused rather than taken literally.
std::string parse_command_line(const std::string &line, parsed_command *out);
