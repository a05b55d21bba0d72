// A small model of a colour terminal's screen, fed with the bytes a program wrote to it: what
// the tests look at instead of trusting the encoder. It knows only what a well-behaved picture
// painter needs (cursor placement and steps, colours, cursor save/restore and visibility,
// plain text and line feeds) and reports everything else as a problem, together with anything
// that would scroll the screen or write past its edges.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class ScreenModel {
public:
    ScreenModel(int columns, int rows);

    void feed(const std::string& bytes);  // may be called with any split of the output

    // The window changes size, as a terminal's does: what lies past the new edges is gone
    // (growing back shows blank cells there), and the cursor is kept inside.
    void resize(int columns, int rows);

    // The pixel shown at (x, y), two to a text cell: 0 where that half shows the default
    // background (nothing painted), 0x01BBGGRR for a colour, `notAPixel` where the cell holds
    // anything but a blank or a half or full block (text, say).
    static constexpr std::uint32_t notAPixel = 0xFFFFFFFF;
    std::uint32_t pixel(int x, int y) const;

    // The text of row `row`, with painted cells shown as '#' (for messages).
    std::string text(int row) const;

    // "" where the screen shows exactly `expected` (pixel (x, y) at [y * columns + x]), else
    // the first few pixels that differ.
    std::string differences(const std::vector<std::uint32_t>& expected) const;

    const std::vector<std::string>& problems() const { return problems_; }
    void forgetProblems() { problems_.clear(); }
    int cursorColumn() const { return column_; }
    int cursorRow() const { return row_; }
    bool cursorVisible() const { return cursorVisible_; }
    bool coloursDefault() const { return foreground_ < 0 && background_ < 0; }
    bool insideSequence() const { return state_ != State::text || !pendingUtf8_.empty(); }

private:
    enum class State { text, escape, controlSequence, string, stringEscape };
    struct Cell {
        std::string glyph;  // empty: never written
        std::int64_t foreground = -1;  // -1: the terminal's default; else 0xBBGGRR
        std::int64_t background = -1;
    };

    void put(const std::string& glyph);
    void controlSequence(char final);
    void string(const std::string& body);
    void selectGraphicRendition(const std::vector<int>& parameters);
    void problem(const std::string& what);

    int columns_, rows_;
    std::vector<Cell> cells_;
    int column_ = 0, row_ = 0;
    bool pendingWrap_ = false;
    bool cursorVisible_ = true;
    std::int64_t foreground_ = -1, background_ = -1;
    struct Saved {
        int column = 0, row = 0;
        std::int64_t foreground = -1, background = -1;
    } saved_;
    State state_ = State::text;
    std::string sequence_;
    std::string pendingUtf8_;
    std::vector<std::string> problems_;
};
