#include "image_screen.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <png.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <sstream>

std::map<std::string, std::string> kittyKeys(const std::string& control)
{
    std::map<std::string, std::string> values;
    std::stringstream fields(control);
    std::string field;
    while (std::getline(fields, field, ',')) {
        const std::size_t equals = field.find('=');
        if (equals != std::string::npos)
            values[field.substr(0, equals)] = field.substr(equals + 1);
    }
    return values;
}

bool decodeBase64(const std::string& text, std::string& bytes)
{
    auto value = [](char c) {
        if (c >= 'A' && c <= 'Z') return c - 'A';
        if (c >= 'a' && c <= 'z') return c - 'a' + 26;
        if (c >= '0' && c <= '9') return c - '0' + 52;
        if (c == '+') return 62;
        if (c == '/') return 63;
        return -1;
    };
    if (text.size() % 4 != 0)
        return false;
    for (std::size_t i = 0; i < text.size(); i += 4) {
        int v[4];
        for (int k = 0; k < 4; ++k)
            v[k] = text[i + std::size_t(k)] == '=' ? 0 : value(text[i + std::size_t(k)]);
        if (v[0] < 0 || v[1] < 0 || v[2] < 0 || v[3] < 0)
            return false;
        const unsigned bits = unsigned(v[0]) << 18 | unsigned(v[1]) << 12 | unsigned(v[2]) << 6 | unsigned(v[3]);
        bytes += char(bits >> 16);
        if (text[i + 2] != '=')
            bytes += char((bits >> 8) & 0xFF);
        if (text[i + 3] != '=')
            bytes += char(bits & 0xFF);
    }
    return true;
}

namespace {

int number(const std::map<std::string, std::string>& values, const std::string& key)
{
    const auto found = values.find(key);
    return found == values.end() ? 0 : std::atoi(found->second.c_str());
}

// A PNG file read with libpng, as kitty reads one: `bytes` become its pixels, RGB or RGBA.
bool readPng(std::string& bytes, int& width, int& height, int& format)
{
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&png, bytes.data(), bytes.size()))
        return false;  // libpng has freed what it held
    const bool alpha = (png.format & PNG_FORMAT_FLAG_ALPHA) != 0;
    png.format = alpha ? PNG_FORMAT_RGBA : PNG_FORMAT_RGB;
    std::string pixels(PNG_IMAGE_SIZE(png), '\0');
    if (!png_image_finish_read(&png, nullptr, &pixels[0], 0, nullptr))
        return false;
    width = int(png.width);
    height = int(png.height);
    format = alpha ? 32 : 24;
    bytes.swap(pixels);
    return true;
}

}  // namespace

ImageScreen::ImageScreen(int columns, int rows, int cellWidth, int cellHeight)
    : columns_(columns), rows_(rows), cellWidth_(cellWidth), cellHeight_(cellHeight),
      width_(columns * cellWidth), height_(rows * cellHeight),
      pixels_(std::size_t(width_) * std::size_t(height_), 0)
{
}

std::uint32_t ImageScreen::throughPercent(std::uint32_t colour)
{
    std::uint32_t shown = 0;
    for (int c = 0; c < 3; ++c) {
        const int value = int((colour >> (8 * c)) & 0xFF);
        const int percent = (value * 100 + 127) / 255;
        shown |= std::uint32_t((percent * 255 + 50) / 100) << (8 * c);
    }
    return shown;
}

bool ImageScreen::readFromFileSystem(char medium, const std::string& name, std::string& bytes)
{
    // In one read, as a terminal that maps the object would take it.
    const int fd = open(medium == 's' ? ("/dev/shm" + name).c_str() : name.c_str(),
                        O_RDONLY | O_CLOEXEC);
    struct stat status;
    if (fd < 0 || fstat(fd, &status) != 0) {
        if (fd >= 0)
            close(fd);
        return false;
    }
    bytes.resize(std::size_t(status.st_size));
    const ssize_t got = read(fd, &bytes[0], bytes.size());
    close(fd);
    return got == ssize_t(bytes.size());
}

void ImageScreen::resize(int columns, int rows)
{
    // The images become the pixels they show; what the window no longer holds is dropped.
    compose();
    std::vector<std::uint32_t> kept(std::size_t(columns * cellWidth_) * std::size_t(rows * cellHeight_), 0);
    for (int y = 0; y < std::min(height_, rows * cellHeight_); ++y)
        for (int x = 0; x < std::min(width_, columns * cellWidth_); ++x)
            kept[std::size_t(y) * std::size_t(columns * cellWidth_) + std::size_t(x)] =
                composed_[std::size_t(y) * std::size_t(width_) + std::size_t(x)];
    for (const KittyImage& image : kittyImages_)
        bakedIds_.insert(image.id);  // still the terminal's to delete
    kittyImages_.clear();
    columns_ = columns, rows_ = rows;
    width_ = columns * cellWidth_, height_ = rows * cellHeight_;
    pixels_ = std::move(kept);
    column_ = std::min(column_, columns - 1), row_ = std::min(row_, rows - 1);
    composedNow_ = false;
}

std::uint32_t ImageScreen::pixel(int x, int y) const
{
    if (!composedNow_)
        compose();
    return composed_[std::size_t(y) * std::size_t(width_) + std::size_t(x)];
}

void ImageScreen::compose() const
{
    composed_ = pixels_;
    std::vector<const KittyImage*> order;
    for (const KittyImage& image : kittyImages_)
        order.push_back(&image);
    std::stable_sort(order.begin(), order.end(),
                     [](const KittyImage* a, const KittyImage* b) { return a->z < b->z; });
    for (const KittyImage* image : order)
        for (int y = 0; y < image->height; ++y)
            for (int x = 0; x < image->width; ++x) {
                const int sx = image->left + x, sy = image->top + y;
                if (sx < 0 || sy < 0 || sx >= width_ || sy >= height_)
                    continue;  // a problem already, when it was placed
                const unsigned char* p = reinterpret_cast<const unsigned char*>(image->bytes.data()) +
                                         (std::size_t(y) * std::size_t(image->width) + std::size_t(x)) *
                                             std::size_t(image->channels);
                if (image->channels == 4 && p[3] == 0)
                    continue;
                composed_[std::size_t(sy) * std::size_t(width_) + std::size_t(sx)] =
                    0x01000000 | std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16;
            }
    composedNow_ = true;
}

void ImageScreen::problem(const std::string& what)
{
    if (problems_.size() < 20)
        problems_.push_back(what);
}

void ImageScreen::draw(int x, int y, std::uint32_t colour)
{
    if (x < 0 || y < 0 || x >= width_ || y >= height_) {
        problem("a pixel drawn outside the window at " + std::to_string(x) + ", " + std::to_string(y));
        return;
    }
    pixels_[std::size_t(y) * std::size_t(width_) + std::size_t(x)] = 0x01000000 | colour;
    composedNow_ = false;
}

void ImageScreen::feed(const std::string& bytes)
{
    for (const char c : bytes) {
        switch (state_) {
        case State::text:
            if (c == '\x1b')
                state_ = State::escape;
            else
                problem("text written: byte " + std::to_string((unsigned char)c));
            break;
        case State::escape:
            state_ = State::text;
            if (c == '[') {
                state_ = State::controlSequence;
                sequence_.clear();
            } else if (c == '_' || c == 'P') {
                state_ = State::string;
                sequence_ = std::string(1, c);
            } else if (c == '7') {
                savedColumn_ = column_, savedRow_ = row_;
            } else if (c == '8') {
                column_ = savedColumn_, row_ = savedRow_;
            } else if (c != '\\') {
                problem(std::string("unknown escape ") + c);
            }
            break;
        case State::controlSequence:
            if (c == '\x1b') {
                state_ = State::escape;
            } else if (c >= 0x40 && c <= 0x7e) {
                state_ = State::text;
                controlSequence(c);
            } else if (c >= 0x20 && c <= 0x3f) {
                sequence_ += c;
            } else {
                problem("byte " + std::to_string((unsigned char)c) + " inside a control sequence");
                state_ = State::text;
            }
            break;
        case State::string:
            if (c == '\x1b')
                state_ = State::stringEscape;
            else if (c < 0x20 || c > 0x7e)
                problem("byte " + std::to_string((unsigned char)c) + " inside a string");
            else
                sequence_ += c;
            break;
        case State::stringEscape:
            if (c == '\\') {
                state_ = State::text;
                string(sequence_);
            } else {
                problem("a string cut short");
                state_ = State::escape;
                feed(std::string(1, c));
            }
            break;
        }
    }
}

void ImageScreen::controlSequence(char final)
{
    const bool modeQuestion = final == 'p' && !sequence_.empty() && sequence_.back() == '$';
    if (final == 'S' && sequence_.rfind("?1;3;", 0) == 0) {  // XTSMGRAPHICS: set the registers
        const int wanted = std::atoi(sequence_.c_str() + 5);
        if (registers_ > 0 && wanted >= 1 && wanted <= maxRegisters_)
            registers_ = wanted;
        return;
    }
    if (final == 'c' || final == 'S' || final == 't' || final == 'm' || modeQuestion ||
        (final == 'n' && sequence_ == "5"))
        return;  // questions, and colours (no text is expected)
    if (final == 'h' || final == 'l') {
        if (sequence_ == "?25")
            cursorVisible_ = final == 'h';
        else
            problem("unknown mode " + sequence_);
        return;
    }
    if (final != 'H') {
        problem("unknown sequence CSI " + sequence_ + final);
        return;
    }
    const std::size_t semicolon = sequence_.find(';');
    const int row = std::atoi(sequence_.substr(0, semicolon).c_str());
    const int column = semicolon == std::string::npos ? 1 : std::atoi(sequence_.substr(semicolon + 1).c_str());
    if (row < 1 || column < 1 || row > rows_ || column > columns_)
        problem("cursor placed outside the window at " + sequence_);
    row_ = std::max(row, 1) - 1;
    column_ = std::max(column, 1) - 1;
}

void ImageScreen::string(const std::string& body)
{
    if (body.rfind("_G", 0) == 0) {
        const std::size_t semicolon = body.find(';');
        const std::string control = body.substr(2, semicolon == std::string::npos ? std::string::npos : semicolon - 2);
        const std::string payload = semicolon == std::string::npos ? "" : body.substr(semicolon + 1);
        if (control.find("a=q") != std::string::npos)
            return;  // the question whether kitty graphics are there
        if (control.rfind("a=d", 0) == 0)
            kittyDelete(control);
        else
            kitty(control, payload);
    } else if (body.rfind("P", 0) == 0) {
        sixel(body.substr(1));
    } else {
        problem("unknown string " + body.substr(0, 10));
    }
}

void ImageScreen::kitty(const std::string& control, const std::string& payload)
{
    // The first piece carries the keys; later pieces only m (and q).
    const auto values = kittyKeys(control);
    if (kittyControl_.empty())
        kittyControl_ = control;
    kittyPayload_ += payload;
    if (number(values, "m") == 1)
        return;

    const auto image = kittyKeys(kittyControl_);
    const std::string data = kittyPayload_;
    kittyControl_.clear();
    kittyPayload_.clear();
    ++images_;
    if (image.count("a") == 0 || image.at("a") != "T" || number(image, "C") != 1 ||
        number(image, "q") != 2)
        problem("a kitty image not sent as a=T, C=1, q=2: " + control);

    std::string bytes;
    if (!decodeBase64(data, bytes)) {
        problem("bad base64 in a kitty image");
        return;
    }
    int format = number(image, "f"), width = number(image, "s"), height = number(image, "v");
    const std::string medium = image.count("t") ? image.at("t") : "d";
    if (medium == "s" || medium == "t") {
        const std::string name = bytes;
        if (!readObject_(medium[0], name, bytes)) {
            problem("a kitty image object that cannot be read: " + name);
            return;
        }
        if (medium == "t" && name.find("tty-graphics-protocol") == std::string::npos)
            problem("a temporary file the terminal would not delete: " + name);
        if (image.count("S") && bytes.size() != std::size_t(number(image, "S")))
            problem("a kitty image object of another size than S says");
    } else if (medium != "d") {
        problem("a kitty image sent as t=" + medium);
        return;
    }
    if (format == 100 && !readPng(bytes, width, height, format)) {
        problem("a kitty PNG image that libpng cannot read");
        return;
    }
    const int channels = format / 8;
    const std::size_t expected = std::size_t(width) * std::size_t(height) * std::size_t(channels);
    if (image.count("o") && image.at("o") == "z") {
        std::string inflated(expected, '\0');
        uLongf size = uLongf(expected);
        if (uncompress(reinterpret_cast<Bytef*>(&inflated[0]), &size,
                       reinterpret_cast<const Bytef*>(bytes.data()), uLong(bytes.size())) != Z_OK ||
            size != expected) {
            problem("bad zlib data in a kitty image");
            return;
        }
        bytes = inflated;
    }
    if ((format != 24 && format != 32) || bytes.size() != expected) {
        problem("a kitty image of the wrong size or format");
        return;
    }
    const int offsetX = number(image, "X"), offsetY = number(image, "Y");
    if (offsetX >= cellWidth_ || offsetY >= cellHeight_)
        problem("a kitty offset past its cell");
    KittyImage placed{std::uint32_t(std::strtoul(image.count("i") ? image.at("i").c_str() : "0", nullptr, 10)),
                      number(image, "z"), column_ * cellWidth_ + offsetX, row_ * cellHeight_ + offsetY,
                      width, height, channels, bytes};
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes.data()) +
                                     (std::size_t(y) * std::size_t(width) + std::size_t(x)) * std::size_t(channels);
            if (channels == 4 && p[3] != 0 && p[3] != 255)
                problem("a half-transparent pixel");
            const int sx = placed.left + x, sy = placed.top + y;
            if ((channels == 3 || p[3] != 0) && (sx >= width_ || sy >= height_))
                problem("a pixel drawn outside the window at " + std::to_string(sx) + ", " + std::to_string(sy));
        }
    // An image with the number of one shown before replaces it.
    if (placed.id != 0)
        kittyImages_.erase(std::remove_if(kittyImages_.begin(), kittyImages_.end(),
                                          [&](const KittyImage& k) { return k.id == placed.id; }),
                           kittyImages_.end());
    kittyImages_.push_back(std::move(placed));
    composedNow_ = false;
}

void ImageScreen::kittyDelete(const std::string& control)
{
    const auto values = kittyKeys(control);
    if (!values.count("d") || values.at("d") != "I" || number(values, "q") != 2) {
        problem("a kitty deletion other than d=I, q=2: " + control);
        return;
    }
    const std::uint32_t id = std::uint32_t(std::strtoul(values.count("i") ? values.at("i").c_str() : "0", nullptr, 10));
    const auto before = kittyImages_.size();
    kittyImages_.erase(std::remove_if(kittyImages_.begin(), kittyImages_.end(),
                                      [&](const KittyImage& k) { return k.id == id; }),
                       kittyImages_.end());
    if (kittyImages_.size() == before && !bakedIds_.count(id))
        problem("a kitty deletion of an image not shown: " + control);
    composedNow_ = false;
}

void ImageScreen::sixel(const std::string& body)
{
    ++images_;
    const std::size_t q = body.find('q');
    if (q == std::string::npos) {
        problem("a device control string that is no sixel image");
        return;
    }
    if (body.substr(0, q) != "0;1;0")
        problem("a sixel image without P2 = 1");  // decoded all the same, for other programs
    std::map<int, std::uint32_t> registers;
    int colour = 0, x = 0, band = 0, declaredHeight = 0;
    const int left = column_ * cellWidth_, top = row_ * cellHeight_;
    std::size_t i = q + 1;
    auto readNumber = [&]() {
        int value = 0;
        while (i < body.size() && body[i] >= '0' && body[i] <= '9')
            value = value * 10 + (body[i++] - '0');
        return value;
    };
    while (i < body.size()) {
        const char c = body[i];
        if (c == '"') {  // raster attributes: 1;1;width;height
            ++i;
            int values[4] = {0, 0, 0, 0};
            for (int k = 0; k < 4; ++k) {
                values[k] = readNumber();
                if (i < body.size() && body[i] == ';')
                    ++i;
            }
            if (values[0] != 1 || values[1] != 1)
                problem("sixel pixels that are not square");
            declaredHeight = values[3];
        } else if (c == '#') {
            ++i;
            colour = readNumber();
            if (registers_ > 0 && colour >= registers_)
                problem("sixel colour register " + std::to_string(colour) + " past the " +
                        std::to_string(registers_) + " in force");
            if (i < body.size() && body[i] == ';') {  // a definition: ;2;r;g;b in percent
                ++i;
                int values[4] = {0, 0, 0, 0};
                for (int k = 0; k < 4; ++k) {
                    values[k] = readNumber();
                    if (k < 3 && i < body.size() && body[i] == ';')
                        ++i;
                }
                if (values[0] != 2 || values[1] > 100 || values[2] > 100 || values[3] > 100)
                    problem("a sixel colour that is not RGB in percent");
                auto level = [](int percent) { return std::uint32_t((percent * 255 + 50) / 100); };
                registers[colour] = level(values[1]) | level(values[2]) << 8 | level(values[3]) << 16;
            }
        } else if (c == '$') {
            ++i, x = 0;
        } else if (c == '-') {
            ++i, x = 0, ++band;
        } else if (c == '!') {
            ++i;
            const int count = readNumber();
            const char bits = body[i++];
            for (int k = 0; k < count; ++k, ++x)
                for (int b = 0; b < 6; ++b)
                    if ((bits - '?') >> b & 1)
                        draw(left + x, top + band * 6 + b, registers[colour]);
        } else if (c >= '?' && c <= '~') {
            for (int b = 0; b < 6; ++b)
                if ((c - '?') >> b & 1)
                    draw(left + x, top + band * 6 + b, registers[colour]);
            ++i, ++x;
        } else {
            problem(std::string("unknown sixel byte ") + c);
            ++i;
        }
    }
    // A terminal scrolls when the image's bands reach the last text row.
    const int bottom = top + (band + 1) * 6;
    if (bottom > (rows_ - 1) * cellHeight_)
        problem("a sixel image reaching the last text row");
    if (declaredHeight > (band + 1) * 6)
        problem("sixel raster height taller than its bands");
}
