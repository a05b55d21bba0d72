// Each encoder over arbitrary surfaces and windows: its bytes decoded by the test models of a
// screen (which share no code with the encoders) must show what was painted, nothing outside
// the window, no sequence left open.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "console/encoders/halfblock_encoder.h"
#include "console/encoders/kitty_encoder.h"
#include "console/encoders/kitty_local_encoder.h"
#include "console/encoders/sixel_encoder.h"
#include "console/terminal/image_handover.h"
#include "fuzz_input.h"
#include "image_screen.h"
#include "screen_model.h"

namespace {

// Paints from the input: a palette, then for each pixel an index into it, 0 for unpainted.
// Returns the number of distinct colours painted.
int paint(Surface& surface, Input& in)
{
    std::vector<std::uint32_t> palette(std::size_t(in.in(1, 8)));
    for (std::uint32_t& colour : palette)
        colour = in.byte() | in.byte() << 8 | in.byte() << 16;
    std::vector<bool> used(palette.size());
    for (int y = 0; y < surface.height(); ++y)
        for (int x = 0; x < surface.width(); ++x) {
            const unsigned pick = in.byte() % unsigned(palette.size() + 1);
            if (pick == 0)
                continue;
            surface.set(x, y, palette[pick - 1]);
            used[pick - 1] = true;
        }
    int distinct = 0;
    for (std::size_t i = 0; i < palette.size(); ++i) {
        bool first = used[i];
        for (std::size_t j = 0; j < i && first; ++j)
            first = !(used[j] && palette[j] == palette[i]);
        distinct += first;
    }
    return distinct;
}

void halfBlocks(Input& in)
{
    CellGeometry cells;
    cells.columns = in.in(1, 40);
    cells.rows = in.in(1, 16);
    // The surface may be larger than the window (it shrank) or smaller.
    Surface surface(in.in(1, 48), in.in(1, 36));
    paint(surface, in);
    HalfBlockEncoder encoder;
    ByteBuffer out;
    encoder.reset();
    out.append("\x1b[0m", 4);
    for (int row = 0; row < cells.rows && row * 2 < surface.height(); ++row)
        encoder.encodeRow(surface, row, cells, out);

    ScreenModel screen(cells.columns, cells.rows);
    screen.feed(out.str());
    check(screen.problems().empty(), "half blocks: " + (screen.problems().empty() ? "" : screen.problems()[0]));
    check(!screen.insideSequence(), "half blocks: a sequence left open");
    std::vector<std::uint32_t> want(std::size_t(cells.columns) * std::size_t(2 * cells.rows), 0);
    for (int y = 0; y < std::min(surface.height(), 2 * cells.rows); ++y)
        for (int x = 0; x < std::min(surface.width(), cells.columns); ++x)
            want[std::size_t(y) * std::size_t(cells.columns) + std::size_t(x)] = surface.get(x, y);
    const std::string differences = screen.differences(want);
    check(differences.empty(), "half blocks: " + differences);
}

void images(Input& in, int kind)
{
    CellGeometry cells;
    cells.cellWidth = in.in(1, 12);
    cells.cellHeight = in.in(1, 24);
    cells.columns = in.in(1, 24);
    cells.rows = in.in(1, 10);
    Surface surface(std::max(1, cells.columns * cells.cellWidth + in.in(-8, 8)),
                    std::max(1, cells.rows * cells.cellHeight + in.in(-8, 8)));
    const int registers = in.in(1, 300), maxWidth = in.in(1, 400);
    const int distinct = paint(surface, in);

    ImageHandover handover;
    std::unique_ptr<Encoder> encoder;
    if (kind == 0)
        encoder.reset(new KittyEncoder(1000));
    else if (kind == 1)
        encoder.reset(new KittyLocalEncoder(handover, ImageHandover::Medium::sharedMemory, 1000));
    else
        encoder.reset(new SixelEncoder(registers, maxWidth, 1000));
    ByteBuffer out;
    encoder->reset();
    const int textRows = std::min(cells.rows, (surface.height() + cells.cellHeight - 1) / cells.cellHeight);
    if (kind == 1 && textRows > 0) {
        // Two runs, cut where the input says: the second covers part of the first's images.
        const int cut = in.in(0, textRows - 1);
        encoder->encodeRun(surface, Piece{0, cut}, cells, out);
        encoder->encodeRun(surface, Piece{0, textRows - 1}, cells, out);
    } else {
        for (int row = 0; row < textRows; ++row)
            encoder->encodeRow(surface, row, cells, out);
    }

    ImageScreen screen(cells.columns, cells.rows, cells.cellWidth, cells.cellHeight);
    screen.feed(out.str());
    handover.close(std::chrono::milliseconds(0));
    const char* name[] = {"kitty", "kitty in shared memory", "sixel"};
    check(screen.problems().empty(), std::string(name[kind]) + ": " + (screen.problems().empty() ? "" : screen.problems()[0]));
    check(!screen.insideSequence(), std::string(name[kind]) + ": a sequence left open");

    // Sixel draws every row above the last text row; where no text row lies a multiple of six
    // pixels above it, only whole bands: all but at most five pixel rows.
    const int limit = (cells.rows - 1) * cells.cellHeight;
    bool aligned = false;
    for (int row = 0; row < cells.rows - 1; ++row)
        aligned = aligned || (limit - row * cells.cellHeight) % 6 == 0;
    const int right = std::min(surface.width(), screen.width());
    for (int y = 0; y < std::min(surface.height(), screen.height()); ++y) {
        if (kind == 2 && y >= (aligned ? limit : limit - 5))
            break;
        for (int x = 0; x < right; ++x) {
            const std::uint32_t painted = surface.get(x, y), shown = screen.pixel(x, y);
            if (kind != 2 || painted == 0 || distinct <= registers) {
                const std::uint32_t want =
                    painted == 0 || kind != 2 ? painted
                                              : 0x01000000 | ImageScreen::throughPercent(painted & 0xFFFFFF);
                check(shown == want, std::string(name[kind]) + ": a pixel shown wrong at " +
                                         std::to_string(x) + ", " + std::to_string(y));
            } else {
                check(shown != 0, "sixel: a painted pixel not shown");
            }
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Input in{data, size};
    const int kind = in.in(0, 3);
    if (kind == 3)
        halfBlocks(in);
    else
        images(in, kind);
    return 0;
}
