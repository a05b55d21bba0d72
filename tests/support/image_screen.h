// A model of a graphics terminal's screen in pixels, fed with what a program wrote to it: it
// decodes kitty graphics images and sixel images on its own (sharing nothing with the
// encoders) and places them as a terminal does, at the cursor's cell. Anything it does not
// know, anything drawn outside the window, and a sixel image reaching the last text row (which
// would scroll a real terminal) are problems.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class ImageScreen {
public:
    ImageScreen(int columns, int rows, int cellWidth, int cellHeight);

    void feed(const std::string& bytes);

    // 0 where nothing was drawn, else 0x01BBGGRR.
    std::uint32_t pixel(int x, int y) const { return pixels_[std::size_t(y) * std::size_t(width_) + std::size_t(x)]; }
    int width() const { return width_; }
    int height() const { return height_; }
    int images() const { return images_; }

    const std::vector<std::string>& problems() const { return problems_; }
    bool insideSequence() const { return state_ != State::text; }
    bool cursorVisible() const { return cursorVisible_; }
    int cursorRow() const { return row_; }
    int cursorColumn() const { return column_; }

    // A sixel colour as a terminal shows it: the percentage the encoder had to round to.
    static std::uint32_t throughPercent(std::uint32_t colour);

private:
    enum class State { text, escape, controlSequence, string, stringEscape };
    void controlSequence(char final);
    void string(const std::string& body);
    void kitty(const std::string& control, const std::string& payload);
    void sixel(const std::string& body);
    void draw(int x, int y, std::uint32_t colour);
    void problem(const std::string& what);

    int columns_, rows_, cellWidth_, cellHeight_, width_, height_;
    std::vector<std::uint32_t> pixels_;
    int column_ = 0, row_ = 0, savedColumn_ = 0, savedRow_ = 0;
    bool cursorVisible_ = true;
    State state_ = State::text;
    std::string sequence_;
    std::string kittyControl_, kittyPayload_;  // a kitty image arriving in pieces
    int images_ = 0;
    std::vector<std::string> problems_;
};
