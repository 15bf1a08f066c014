#include "command_parse.h"

#include <stddef.h>

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool same_ignoring_case(const std::string &a, const char *b) {
    size_t i = 0;
    for (; i < a.size() && b[i] != '\0'; i++)
        if (lower(a[i]) != lower(b[i])) return false;
    return i == a.size() && b[i] == '\0';
}

bool all_digits(const std::string &word) {
    if (word.empty()) return false;
    for (char c : word)
        if (c < '0' || c > '9') return false;
    return true;
}

// Windows paths reach a POSIX program with slashes: "conf\map_orvane.conf"
// becomes "conf/map_orvane.conf".
std::string with_slashes(std::string word) {
    for (char &c : word)
        if (c == '\\') c = '/';
    return word;
}

// The word starting at *at, up to a blank, a '>' or the end; *at moves past it.
std::string next_word(const std::string &line, size_t *at) {
    size_t start = *at;
    while (*at < line.size() && !is_blank(line[*at]) && line[*at] != '>') (*at)++;
    return line.substr(start, *at - start);
}

// Why `word` is refused, or "" when it may be taken literally.
std::string refusal(const std::string &word) {
    for (char w : word) {
        unsigned char b = static_cast<unsigned char>(w);
        if (b < 0x20 || b == 0x7f) return "control characters are not supported";
        if (w == '"' || w == '<' || w == '|' || w == '&' || w == '^' || w == '%')
            return std::string("'") + w + "' is not supported";
    }
    return "";
}

struct switch_name {
    const char *name;
    start_priority priority;
};

const switch_name priority_switches[] = {
    {"/low", start_priority::low},       {"/belownormal", start_priority::below_normal},
    {"/normal", start_priority::normal}, {"/abovenormal", start_priority::above_normal},
    {"/high", start_priority::high},
};

}  // namespace

std::string parse_command_line(const std::string &line, parsed_command *out) {
    *out = parsed_command();

    // Split into words, taking the redirect out wherever it stands.
    std::vector<std::string> words;
    bool have_redirect = false;
    size_t i = 0;
    while (i < line.size()) {
        char c = line[i];
        if (is_blank(c)) {
            i++;
            continue;
        }
        if (c == '>') {
            if (i + 1 < line.size() && line[i + 1] == '>') return "'>>' is not supported";
            if (have_redirect) return "only one '>' is supported";
            i++;
            while (i < line.size() && is_blank(line[i])) i++;
            std::string name = next_word(line, &i);
            if (name.empty()) return "'>' needs a file name";
            std::string refused = refusal(name);
            if (!refused.empty()) return refused;
            out->redirect = with_slashes(name);
            have_redirect = true;
            continue;
        }
        std::string word = next_word(line, &i);
        std::string refused = refusal(word);
        if (!refused.empty()) return refused;
        // "2>file" would redirect a numbered handle; taking the digits as an
        // argument would quietly run a different command.
        if (i < line.size() && line[i] == '>' && all_digits(word)) return "'" + word + ">' is not supported";
        words.push_back(word);
    }

    if (words.empty() || !same_ignoring_case(words[0], "/c")) return "the command line must begin with /C";
    if (words.size() == 1) return "no command after /C";

    size_t next = 1;
    if (same_ignoring_case(words[1], "start")) {
        out->kind = command_kind::start;
        bool have_priority = false;
        for (next = 2; next < words.size() && words[next][0] == '/'; next++) {
            const std::string &option = words[next];
            if (same_ignoring_case(option, "/min")) {
                out->minimized = true;
                continue;
            }
            bool known = false;
            for (const switch_name &s : priority_switches) {
                if (same_ignoring_case(option, s.name)) {
                    if (have_priority) return "start takes one priority switch";
                    have_priority = true;
                    out->priority = s.priority;
                    known = true;
                }
            }
            if (!known) return "start does not know the switch '" + option + "'";
        }
        if (next == words.size()) return "start needs a program";
    }

    out->program = with_slashes(words[next]);
    for (size_t a = next + 1; a < words.size(); a++) out->arguments.push_back(with_slashes(words[a]));
    return "";
}
