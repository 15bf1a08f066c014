#include "terminal_screen.h"

#include <stdlib.h>

#include <algorithm>

namespace {

// The numbers of a control sequence ("12;5"), each `fallback` when left out.
std::vector<size_t> numbers(const std::string &parameters, size_t fallback) {
    std::vector<size_t> values;
    std::string current;
    for (size_t i = 0; i <= parameters.size(); i++) {
        if (i == parameters.size() || parameters[i] == ';') {
            values.push_back(current.empty() ? fallback : strtoul(current.c_str(), nullptr, 10));
            current.clear();
        } else if (parameters[i] >= '0' && parameters[i] <= '9') {
            current += parameters[i];
        }
    }
    return values;
}

}  // namespace

void terminal_screen::feed(const std::string &bytes) {
    for (char c : bytes) {
        switch (state_) {
        case GROUND:
            if (c == '\x1b') {
                state_ = ESCAPE;
            } else if (c == '\r') {
                column_ = 0;
            } else if (c == '\n') {
                row_++;
            } else if (c == '\b') {
                if (column_ > 0) column_--;
            } else if (static_cast<unsigned char>(c) >= ' ') {
                put(c);
            }
            break;
        case ESCAPE:
            parameters_.clear();
            state_ = c == '[' ? CONTROL : c == ']' ? OPERATING_SYSTEM : GROUND;
            break;
        case CONTROL:
            if (c >= '@' && c <= '~') {
                control(c, parameters_);
                state_ = GROUND;
            } else {
                parameters_ += c;
            }
            break;
        case OPERATING_SYSTEM:
            // A window title and the like, up to BEL or ESC.
            if (c == '\a') state_ = GROUND;
            if (c == '\x1b') state_ = ESCAPE;
            break;
        }
    }
}

void terminal_screen::put(char c) {
    if (rows_.size() <= row_) rows_.resize(row_ + 1);
    std::string &line = rows_[row_];
    if (line.size() <= column_) line.resize(column_ + 1, ' ');
    line[column_++] = c;
}

void terminal_screen::control(char final_byte, const std::string &parameters) {
    if (!parameters.empty() && parameters[0] == '?') return;  // modes: cursor shown or hidden
    std::vector<size_t> n = numbers(parameters, 0);
    size_t count = n[0] == 0 ? 1 : n[0];
    switch (final_byte) {
    case 'A': row_ = row_ >= count ? row_ - count : 0; break;
    case 'B': row_ += count; break;
    case 'C': column_ += count; break;
    case 'D': column_ = column_ >= count ? column_ - count : 0; break;
    case 'G': column_ = count - 1; break;
    case 'H':
    case 'f': {
        std::vector<size_t> at = numbers(parameters, 1);
        row_ = (at[0] == 0 ? 1 : at[0]) - 1;
        column_ = (at.size() > 1 && at[1] > 0 ? at[1] : 1) - 1;
        break;
    }
    case 'K':
        if (row_ < rows_.size()) {
            std::string &line = rows_[row_];
            if (n[0] == 0 && line.size() > column_) line.resize(column_);
            if (n[0] == 1) line.replace(0, std::min(line.size(), column_ + 1), std::min(line.size(), column_ + 1), ' ');
            if (n[0] == 2) line.clear();
        }
        break;
    case 'J':
        if (n[0] == 2 || n[0] == 3) rows_.clear();
        if (n[0] == 0) {
            if (row_ < rows_.size()) {
                rows_[row_].resize(std::min(rows_[row_].size(), column_));
                rows_.resize(row_ + 1);
            }
        }
        break;
    default: break;  // colours and the rest change no text
    }
}

std::string terminal_screen::text() const {
    std::vector<std::string> lines = rows_;
    for (std::string &line : lines) {
        size_t end = line.find_last_not_of(' ');
        line.resize(end == std::string::npos ? 0 : end + 1);
    }
    while (!lines.empty() && lines.back().empty()) lines.pop_back();
    std::string out;
    for (const std::string &line : lines) out += line + "\n";
    return out;
}
