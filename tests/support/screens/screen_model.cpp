#include "screen_model.h"

#include <algorithm>
#include <cstdlib>
#include <sstream>

ScreenModel::ScreenModel(int columns, int rows)
    : columns_(columns), rows_(rows), cells_(std::size_t(columns) * std::size_t(rows))
{
}

void ScreenModel::problem(const std::string& what)
{
    if (problems_.size() < 20)
        problems_.push_back(what + " (at row " + std::to_string(row_ + 1) + ", column " +
                            std::to_string(column_ + 1) + ")");
}

void ScreenModel::resize(int columns, int rows)
{
    std::vector<Cell> kept(std::size_t(columns) * std::size_t(rows));
    for (int y = 0; y < std::min(rows, rows_); ++y)
        for (int x = 0; x < std::min(columns, columns_); ++x)
            kept[std::size_t(y) * std::size_t(columns) + std::size_t(x)] =
                cells_[std::size_t(y) * std::size_t(columns_) + std::size_t(x)];
    cells_ = std::move(kept);
    columns_ = columns, rows_ = rows;
    column_ = std::min(column_, columns - 1), row_ = std::min(row_, rows - 1);
    pendingWrap_ = false;
}

void ScreenModel::feed(const std::string& bytes)
{
    for (const char c : bytes) {
        const unsigned char byte = (unsigned char)c;
        switch (state_) {
        case State::text:
            if (!pendingUtf8_.empty()) {
                if ((byte & 0xC0) == 0x80) {
                    pendingUtf8_ += c;
                    const unsigned char lead = (unsigned char)pendingUtf8_[0];
                    const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
                    if (pendingUtf8_.size() == length) {
                        // Only the shortest form of a character, none of the C1 controls
                        // (U+0080 to U+009F) and no surrogate halves are text.
                        std::uint32_t code = lead & (0x7F >> length);
                        for (std::size_t i = 1; i < length; ++i)
                            code = code << 6 | ((unsigned char)pendingUtf8_[i] & 0x3F);
                        const std::uint32_t least[] = {0, 0, 0xA0, 0x800, 0x10000};
                        if (code < least[length] || code > 0x10FFFF ||
                            (code >= 0xD800 && code < 0xE000))
                            problem("bytes that are no UTF-8 character");
                        else
                            put(pendingUtf8_);
                        pendingUtf8_.clear();
                    }
                    continue;
                }
                problem("a character cut short");
                pendingUtf8_.clear();
            }
            if (byte == 0x1b) {
                state_ = State::escape;
            } else if (byte == '\r') {
                column_ = 0;
                pendingWrap_ = false;
            } else if (byte == '\n') {
                if (row_ + 1 >= rows_)
                    problem("a line feed on the last row scrolls the screen");
                else
                    ++row_;
                pendingWrap_ = false;
            } else if (byte < 0x20 || byte == 0x7f) {
                problem("control character " + std::to_string(byte));
            } else if (byte >= 0xC0 && byte < 0xF8) {
                pendingUtf8_ = std::string(1, c);
            } else if (byte >= 0x80) {
                problem("byte " + std::to_string(byte) + ", which starts no UTF-8 character");
            } else {
                put(std::string(1, c));
            }
            break;

        case State::escape:
            state_ = State::text;
            if (c == '[') {
                state_ = State::controlSequence;
                sequence_.clear();
            } else if (c == '7') {
                saved_ = Saved{column_, row_, foreground_, background_};
            } else if (c == '8') {
                column_ = saved_.column;
                row_ = saved_.row;
                foreground_ = saved_.foreground;
                background_ = saved_.background;
                pendingWrap_ = false;
            } else if (c == '\x1b') {
                state_ = State::escape;
            } else if (c == '_' || c == 'P') {  // APC or DCS: a string up to ST
                state_ = State::string;
                sequence_ = std::string(1, c);
            } else if (c != '\\') {  // a lone string terminator is harmless
                problem(std::string("unknown escape ESC ") + c);
            }
            break;

        case State::string:
            if (byte == 0x1b)
                state_ = State::stringEscape;
            else if (byte < 0x20 || byte > 0x7e)
                problem("byte " + std::to_string(byte) + " inside a string");
            else
                sequence_ += c;
            break;

        case State::stringEscape:
            if (c == '\\') {
                state_ = State::text;
                string(sequence_);
            } else {  // an escape inside a string ends it unfinished, as terminals do
                state_ = State::escape;
                feed(std::string(1, c));
                continue;
            }
            break;

        case State::controlSequence:
            if (byte == 0x1b) {  // an escape inside a sequence abandons it, as terminals do
                state_ = State::escape;
            } else if (byte >= 0x40 && byte <= 0x7e) {
                state_ = State::text;
                controlSequence(c);
            } else if (byte >= 0x20 && byte <= 0x3f) {
                sequence_ += c;
            } else {
                problem("byte " + std::to_string(byte) + " inside a control sequence");
                state_ = State::text;
            }
            break;
        }
    }
}

void ScreenModel::put(const std::string& glyph)
{
    if (pendingWrap_) {
        problem("text past the right edge wraps to the next line");
        return;
    }
    Cell& cell = cells_[std::size_t(row_) * std::size_t(columns_) + std::size_t(column_)];
    cell.glyph = glyph;
    cell.foreground = foreground_;
    cell.background = background_;
    if (column_ + 1 < columns_)
        ++column_;
    else
        pendingWrap_ = true;
}

void ScreenModel::controlSequence(char final)
{
    const bool privateMode = !sequence_.empty() && sequence_[0] == '?';
    std::vector<int> parameters;
    std::stringstream fields(privateMode ? sequence_.substr(1) : sequence_);
    std::string field;
    while (std::getline(fields, field, ';'))
        parameters.push_back(field.empty() ? 0 : std::atoi(field.c_str()));
    auto parameter = [&](std::size_t i, int fallback) {
        return i < parameters.size() && parameters[i] != 0 ? parameters[i] : fallback;
    };

    if (privateMode && (final == 'h' || final == 'l') && parameters.size() == 1) {
        if (parameters[0] == 25)
            cursorVisible_ = final == 'h';
        else if (parameters[0] != 7)
            problem("unknown mode ?" + std::to_string(parameters[0]));
        return;
    }
    // Questions to the terminal (device attributes, graphics attributes, window sizes, a
    // mode's state, the operating status) change nothing on the screen.
    const bool modeQuestion = final == 'p' && !sequence_.empty() && sequence_.back() == '$';
    if (final == 'c' || final == 'S' || (final == 't' && !privateMode) || modeQuestion ||
        (final == 'n' && sequence_ == "5"))
        return;
    if (privateMode) {
        problem("unknown sequence CSI " + sequence_ + final);
        return;
    }
    switch (final) {
    case 'H': {
        const int row = parameter(0, 1), column = parameter(1, 1);
        if (row > rows_ || column > columns_)
            problem("cursor placed outside the window at " + std::to_string(row) + ";" +
                    std::to_string(column));
        row_ = std::min(row, rows_) - 1;
        column_ = std::min(column, columns_) - 1;
        pendingWrap_ = false;
        break;
    }
    case 'C': {
        const int step = parameter(0, 1);
        if (column_ + step >= columns_)
            problem("cursor stepped past the right edge");
        column_ = std::min(column_ + step, columns_ - 1);
        pendingWrap_ = false;
        break;
    }
    case 'm':
        selectGraphicRendition(parameters);
        break;
    default:
        problem("unknown sequence CSI " + sequence_ + final);
    }
}

void ScreenModel::selectGraphicRendition(const std::vector<int>& parameters)
{
    if (parameters.empty()) {
        foreground_ = background_ = -1;
        return;
    }
    for (std::size_t i = 0; i < parameters.size(); ++i) {
        const int p = parameters[i];
        if (p == 0) {
            foreground_ = background_ = -1;
        } else if (p == 39) {
            foreground_ = -1;
        } else if (p == 49) {
            background_ = -1;
        } else if ((p == 38 || p == 48) && i + 4 < parameters.size() && parameters[i + 1] == 2) {
            const int r = parameters[i + 2], g = parameters[i + 3], b = parameters[i + 4];
            if (r > 255 || g > 255 || b > 255)
                problem("colour component above 255");
            const std::int64_t colour = r | g << 8 | b << 16;
            (p == 38 ? foreground_ : background_) = colour;
            i += 4;
        } else {
            problem("unknown graphic rendition " + std::to_string(p));
            return;
        }
    }
}

std::uint32_t ScreenModel::pixel(int x, int y) const
{
    const Cell& cell = cells_[std::size_t(y / 2) * std::size_t(columns_) + std::size_t(x)];
    if (cell.glyph.empty())
        return 0;
    const bool upper = y % 2 == 0;
    bool fromForeground;
    if (cell.glyph == " ")
        fromForeground = false;
    else if (cell.glyph == "\xE2\x96\x80")  // upper half block
        fromForeground = upper;
    else if (cell.glyph == "\xE2\x96\x84")  // lower half block
        fromForeground = !upper;
    else if (cell.glyph == "\xE2\x96\x88")  // full block
        fromForeground = true;
    else
        return notAPixel;
    const std::int64_t shown = fromForeground ? cell.foreground : cell.background;
    if (shown < 0)  // the default background shows; the default foreground is no pixel's colour
        return fromForeground ? notAPixel : 0;
    return 0x01000000 | std::uint32_t(shown);
}

std::string ScreenModel::text(int row) const
{
    std::string line;
    for (int x = 0; x < columns_; ++x) {
        const Cell& cell = cells_[std::size_t(row) * std::size_t(columns_) + std::size_t(x)];
        if (cell.glyph.empty())
            line += '.';
        else if (cell.glyph.size() == 1 && cell.glyph != " ")
            line += cell.glyph;
        else
            line += '#';
    }
    return line;
}

std::string ScreenModel::differences(const std::vector<std::uint32_t>& expected) const
{
    std::ostringstream report;
    int count = 0;
    for (int y = 0; y < 2 * rows_; ++y)
        for (int x = 0; x < columns_; ++x) {
            const std::uint32_t want = expected[std::size_t(y) * std::size_t(columns_) +
                                                std::size_t(x)];
            const std::uint32_t have = pixel(x, y);
            if (want == have)
                continue;
            if (++count <= 5)
                report << "pixel (" << x << ", " << y << ") is " << std::hex << have
                       << " instead of " << want << std::dec << "; ";
        }
    if (count > 5)
        report << count << " pixels differ in all";
    return report.str();
}

void ScreenModel::string(const std::string& body)
{
    // The viewer's only string is its kitty graphics question, which a text terminal ignores.
    if (body.rfind("_G", 0) != 0 || body.find("a=q") == std::string::npos)
        problem("unexpected string " + body.substr(0, 20));
}
