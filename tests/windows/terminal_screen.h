// What a terminal would show for a stream of bytes: enough of a terminal to
// read Wine's console, which draws its text through cursor movements (a
// space, for one, comes out as "erase to the end of the line, one column
// right").
#pragma once

#include <string>
#include <vector>

class terminal_screen {
public:
    // Takes the next bytes of the stream.
    void feed(const std::string &bytes);

    // The screen's lines, each ended by '\n' and without trailing spaces,
    // without the empty lines below the last written one.
    std::string text() const;

private:
    void put(char c);
    void control(char final_byte, const std::string &parameters);

    std::vector<std::string> rows_;
    size_t row_ = 0, column_ = 0;
    enum { GROUND, ESCAPE, CONTROL, OPERATING_SYSTEM } state_ = GROUND;
    std::string parameters_;
};
