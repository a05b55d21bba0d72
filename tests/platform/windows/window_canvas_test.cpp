// The console window's canvas without GDI: the blits it makes of the surface, the watch that
// finds what the console painted over, and the presentation between them, on a model of the
// window (pixels, and the console's own where nothing was blitted).
#include "console/presentation.h"
#include "platform/windows/blit_encoder.h"
#include "platform/windows/shown_watch.h"

#include <gtest/gtest.h>

#include <utility>

namespace {

constexpr std::uint32_t text = 0x203040;  // what the console shows where nothing was blitted

struct Rect {
    int left, top, right, bottom;
};

// A window as GDI shows it: blits land inside it, clipped, and read back as they landed.
class ModelWindow final : public PaintingTerminal, public PixelSink {
public:
    ModelWindow(const Surface& surface, int width, int height, int tolerance = 0)
        : surface_(surface), width_(width), height_(height), watch_(tolerance),
          pixels_(std::size_t(width * height), text)
    {
    }
    Size size() const override { return Size{width_, height_, width_, height_}; }
    bool write(const char*, std::size_t) override { return true; }
    void beginPaint() override {}
    void endPaint() override {}
    PixelRows lostRows() override
    {
        return watch_.look(surface_, width_, height_, std::exchange(showed_, false),
                           [this](int column, int top, int bottom, std::uint32_t* out) {
                               ++reads;
                               for (int y = top; y < bottom; ++y)
                                   out[y - top] = at(column, y) & rounding;
                               return true;
                           });
    }
    void show(const std::uint32_t* rows, int rowLength, int left, int top, int width,
              int height) override
    {
        ++blits;
        showed_ = true;
        for (int y = top; y < top + height && y < height_; ++y)
            for (int x = left; x < left + width && x < width_; ++x)
                at(x, y) = rows[std::size_t(y - top) * std::size_t(rowLength) + std::size_t(x)];
    }
    // The console paints over part of the window.
    void paintOver(const Rect& r)
    {
        for (int y = r.top; y < r.bottom; ++y)
            for (int x = r.left; x < r.right; ++x)
                at(x, y) = text;
    }
    std::uint32_t& at(int x, int y) { return pixels_[std::size_t(y * width_ + x)]; }

    // What the window should show: the painted pixels, and the console's elsewhere.
    std::string differences()
    {
        int wrong = 0;
        for (int y = 0; y < height_; ++y)
            for (int x = 0; x < width_; ++x) {
                const std::uint32_t p = x < surface_.width() && y < surface_.height()
                                            ? surface_.get(x, y) : 0;
                wrong += at(x, y) != (p ? dibPixel(p) : text);
            }
        return wrong ? std::to_string(wrong) + " pixels wrong" : "";
    }

    int blits = 0, reads = 0;
    std::uint32_t rounding = 0xFFFFFF;  // what the screen keeps of each pixel read back

private:
    const Surface& surface_;
    const int width_, height_;
    ShownWatch watch_;
    bool showed_ = false;
    std::vector<std::uint32_t> pixels_;
};

void paintPicture(Surface& surface, const Rect& r)
{
    for (int y = r.top; y < r.bottom; ++y)
        for (int x = r.left; x < r.right; ++x)
            surface.set(x, y, std::uint32_t(x * 7 + y * 0x10300) & 0xFFFFFF);
}

TEST(WindowCanvas, BlitsEveryPaintedPixelAndNothingElseOneBlitARunOfLikeRows)
{
    const struct {
        const char* what;
        void (*paint)(Surface&);
        int blits;
    } cases[] = {
        {"a picture", [](Surface& s) { paintPicture(s, {10, 10, 171, 110}); }, 1},
        {"its last row cut short by the file's end",
         [](Surface& s) {
             paintPicture(s, {10, 10, 171, 110});
             paintPicture(s, {10, 110, 50, 111});
         },
         2},
        {"past the window's edges, clipped",
         [](Surface& s) { paintPicture(s, {1200, 320, 1300, 400}); }, 1},
        {"more than a blit takes: in bands",
         [](Surface& s) { paintPicture(s, {0, 0, 1250, 300}); }, 2},
        {"black is painted", [](Surface& s) { s.set(20, 20, 0); }, 1},
        {"two pictures side by side",
         [](Surface& s) {
             paintPicture(s, {0, 5, 40, 60});
             paintPicture(s, {60, 5, 90, 60});
         },
         2},
        {"rows of other widths",
         [](Surface& s) {
             for (int y = 0; y < 30; ++y)
                 s.set(y, y, 0xFFFFFF);
         },
         30},
        {"nothing", [](Surface&) {}, 0},
    };
    for (const auto& c : cases) {
        Surface surface(1300, 400);
        c.paint(surface);
        ModelWindow window(surface, 1250, 350);  // smaller than the surface: it shrank
        BlitEncoder encoder(window);
        ByteBuffer bytes;
        encoder.encodeRun(surface, Piece{0, 399}, CellGeometry{1, 1, 1250, 350}, bytes);
        EXPECT_EQ(window.differences(), "") << c.what;
        EXPECT_EQ(window.blits, c.blits) << c.what;
        EXPECT_EQ(bytes.size(), 0u) << c.what;
    }
}

// The presentation on the model window, once the console painted over part of the picture:
// how many looks it takes until the window shows the picture again (-1: not in 200).
int looksToRepair(const Rect& damage, ModelWindow& window, Presentation& presentation)
{
    window.paintOver(damage);
    for (int looks = 1; looks <= 200; ++looks) {
        presentation.present();
        if (window.differences() == "")
            return looks;
    }
    return -1;
}

TEST(WindowCanvas, WhatTheConsolePaintsOverIsShownAgainSoonAndIdleLooksReadLittle)
{
    const struct {
        const char* what;
        Rect damage;
        int withinLooks;
    } cases[] = {
        {"text rows repainted across the window", {0, 40, 200, 56}, 2},
        {"the whole window repainted", {0, 0, 200, 150}, 2},
        {"a window that covered the picture", {0, 0, 190, 130}, 2},
        {"a window over part of it", {90, 30, 130, 80}, 24},
        {"a narrow one", {60, 90, 68, 100}, 80},
        {"text in the corner", {10, 10, 18, 26}, 80},
    };
    for (const auto& c : cases) {
        Surface surface(200, 150);
        ModelWindow window(surface, 200, 150);
        Presentation presentation(window, surface, std::make_unique<BlitEncoder>(window),
                                  CellGeometry{1, 1, 200, 150});
        paintPicture(surface, {10, 10, 171, 110});
        presentation.present();
        ASSERT_EQ(window.differences(), "") << c.what;

        // Idle: nothing read the first look after a blit, then a column every two looks.
        const int reads = window.reads;
        for (int look = 0; look < 20; ++look)
            presentation.present();
        EXPECT_EQ(window.reads - reads, 10) << c.what;
        EXPECT_EQ(window.blits, 1) << c.what << ": nothing was lost, nothing shown again";

        const int looks = looksToRepair(c.damage, window, presentation);
        EXPECT_GE(looks, 1) << c.what;
        EXPECT_LE(looks, c.withinLooks) << c.what;
    }
}

TEST(WindowCanvas, ACoverThatStaysIsLookedAtLessOftenAndFoundOnceItGoes)
{
    Surface surface(200, 150);
    ModelWindow window(surface, 200, 150);
    Presentation presentation(window, surface, std::make_unique<BlitEncoder>(window),
                              CellGeometry{1, 1, 200, 150});
    paintPicture(surface, {10, 10, 171, 110});
    presentation.present();
    // Blits (the picture shown again) during looks at a window that stays covered.
    auto coveredFor = [&](int looks) {
        const int blits = window.blits;
        for (int look = 0; look < looks; ++look) {
            window.paintOver({0, 0, 200, 150});
            presentation.present();
        }
        return window.blits - blits;
    };
    coveredFor(100);
    EXPECT_LE(coveredFor(160), 20) << "shown again at most every 8 looks";
    const int looks = looksToRepair({0, 0, 200, 150}, window, presentation);
    EXPECT_GE(looks, 1);
    EXPECT_LE(looks, 9);
}

TEST(WindowCanvas, AScreenOfFewerColoursIsNoLoss)
{
    for (const int tolerance : {0, 8}) {
        Surface surface(200, 150);
        ModelWindow window(surface, 200, 150, tolerance);
        window.rounding = 0xF8FCF8;  // 16 bits a pixel: 5, 6 and 5 bits a channel
        Presentation presentation(window, surface, std::make_unique<BlitEncoder>(window),
                                  CellGeometry{1, 1, 200, 150});
        paintPicture(surface, {10, 10, 171, 110});
        for (int look = 0; look < 40; ++look)
            presentation.present();
        EXPECT_EQ(window.blits > 1, tolerance == 0) << "tolerance " << tolerance;
    }
}

}  // namespace
