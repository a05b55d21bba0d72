// A model of a graphics terminal's screen in pixels, fed with what a program wrote to it: it
// decodes kitty graphics images and sixel images on its own (sharing nothing with the
// encoders; kitty's PNG files through libpng, as kitty itself reads them) and places them as a
// terminal does, at the cursor's cell. Anything it does not
// know, anything drawn outside the window, and a sixel image reaching the last text row (which
// would scroll a real terminal) are problems.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

// The keys of a kitty graphics command ("a=T,f=24,..."), and base64 as its payload carries it
// (false where the text is not base64).
std::map<std::string, std::string> kittyKeys(const std::string& control);
bool decodeBase64(const std::string& text, std::string& bytes);

class ImageScreen {
public:
    ImageScreen(int columns, int rows, int cellWidth, int cellHeight);

    void feed(const std::string& bytes);

    // The window changes size, as a terminal's does: what lies past the new edges is gone
    // (growing back shows nothing there), what lies inside stays, and the cursor is kept in it.
    void resize(int columns, int rows);

    // How the terminal reads a kitty image handed over by name (t=s: a shared memory object,
    // t=t: a file): false where it cannot. By default straight from /dev/shm or the file, which
    // must still be there.
    using ObjectReader =
        std::function<bool(char medium, const std::string& name, std::string& bytes)>;
    void readObjectsWith(ObjectReader reader) { readObject_ = std::move(reader); }
    static bool readFromFileSystem(char medium, const std::string& name, std::string& bytes);

    // 0 where nothing was drawn, else 0x01BBGGRR: kitty images above sixel pixels, the kitty
    // images in the order of their z values, then of their arrival.
    std::uint32_t pixel(int x, int y) const;
    // How many pixels show otherwise than `painted` holds them (the viewer's surface, or
    // anything with its width(), height() and get(x, y)); one never painted must show nothing.
    template <typename Painted>
    int wrongPixels(const Painted& painted) const
    {
        int wrong = 0;
        for (int y = 0; y < painted.height(); ++y)
            for (int x = 0; x < painted.width(); ++x)
                wrong += pixel(x, y) != painted.get(x, y);
        return wrong;
    }
    int kittyImagesShown() const { return int(kittyImages_.size()); }
    int width() const { return width_; }
    int height() const { return height_; }
    int images() const { return images_; }

    const std::vector<std::string>& problems() const { return problems_; }
    void forgetProblems() { problems_.clear(); }
    // Inside an escape sequence or string, or between the pieces of a kitty image.
    bool insideSequence() const { return state_ != State::text || !kittyControl_.empty(); }
    bool cursorVisible() const { return cursorVisible_; }
    int cursorRow() const { return row_; }
    int cursorColumn() const { return column_; }

    // The sixel colour registers the terminal has, which XTSMGRAPHICS sets up to `maximum` (a
    // setting past it is refused): a sixel image that uses a register past those in force is a
    // problem. 0, the default: not checked.
    void setColourRegisters(int registers, int maximum)
    {
        registers_ = registers;
        maxRegisters_ = maximum;
    }
    int colourRegisters() const { return registers_; }

    // A sixel colour as a terminal shows it: the percentage the encoder had to round to.
    static std::uint32_t throughPercent(std::uint32_t colour);

private:
    enum class State { text, escape, controlSequence, string, stringEscape };
    void controlSequence(char final);
    void string(const std::string& body);
    void kitty(const std::string& control, const std::string& payload);
    void kittyDelete(const std::string& control);
    void compose() const;
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
    int registers_ = 0, maxRegisters_ = 0;
    std::vector<std::string> problems_;
    ObjectReader readObject_ = readFromFileSystem;

    struct KittyImage {
        std::uint32_t id;
        int z, left, top, width, height, channels;
        std::string bytes;
    };
    std::vector<KittyImage> kittyImages_;  // in the order they arrived
    std::set<std::uint32_t> bakedIds_;     // images made pixels by a resize
    mutable std::vector<std::uint32_t> composed_;
    mutable bool composedNow_ = false;
};
