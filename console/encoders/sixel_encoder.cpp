#include "console/encoders/sixel_encoder.h"

#include "console/bytes/decimal.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

// A palette shared by more pixels costs fidelity; every image more costs bytes (its registers'
// definitions, and finer palettes draw more colour boundaries, each a few sixels). Measured
// with 256 registers on 1080p photographs (bench/compare_peers.sh's set), images of 2^20, 2^19,
// 2^18 and 2^17 pixels give a detailed forest 39.8, 39.7, 40.1 and 40.6 dB for 2.01, 2.02,
// 2.13 and 2.25 bytes a pixel, a smooth wallpaper 40.1, 40.9, 41.9 and 43.3 dB for 0.22,
// 0.25, 0.40 and 0.50, a noisy plasma 34.6, 35.5, 36.3 and 37.3 dB for 1.17, 1.39, 1.59 and
// 1.87: below half a million pixels every step costs a sixth more bytes or more, for well
// under a decibel where the picture is detailed. About half a million it is.
constexpr int pixelsPerImage = 1 << 19;

// An image may start up to this many text rows above its run (see encodeImages).
constexpr int rowsAbove = 5;

// Writes `count` sixels of one `character`, as a repeat where that is shorter.
char* putRun(char* p, int count, char character)
{
    if (count >= 4) {
        *p++ = '!';
        p = putNumber(p, unsigned(count));
        *p++ = character;
    } else {
        while (count-- > 0)
            *p++ = character;
    }
    return p;
}

// For each set of a band's six rows: its lowest row, and how many rows it holds.
struct RowSets {
    unsigned char lowest[64], count[64];
    constexpr RowSets() : lowest(), count()
    {
        for (int set = 1; set < 64; ++set) {
            while (!(set >> lowest[set] & 1))
                ++lowest[set];
            count[set] = (unsigned char)(count[set & (set - 1)] + 1);
        }
    }
};
constexpr RowSets rowSets;

// The bits set in all eight bytes of `eight`.
int fold(std::uint64_t eight)
{
    eight &= eight >> 32;
    eight &= eight >> 16;
    eight &= eight >> 8;
    return int(eight & 0xFF);
}

// Puts `items` into `sorted` by a key from 0 to keys - 1, items of equal keys in the order they
// came (counting, so linear); `starts` gets where each key's items start, and after the last.
template <typename Item, typename Key>
void sortByKey(const std::vector<Item>& items, std::size_t keys, Key key, std::vector<int>& starts,
               std::vector<Item>& sorted)
{
    starts.assign(keys + 1, 0);
    for (const Item& item : items)
        ++starts[std::size_t(key(item)) + 1];
    for (std::size_t k = 1; k <= keys; ++k)
        starts[k] += starts[k - 1];
    sorted.resize(items.size());
    for (const Item& item : items)
        sorted[std::size_t(starts[std::size_t(key(item))]++)] = item;  // each start moves on
    for (std::size_t k = keys; k > 0; --k)                              // to the next key's
        starts[k] = starts[k - 1];
    starts[0] = 0;
}

}  // namespace

SixelEncoder::SixelEncoder(int registers, int maxWidth, int maxHeight)
    : registers_(std::max(registers, 2)), maxWidth_(maxWidth), maxHeight_(maxHeight)
{
}

int SixelEncoder::runRows(const CellGeometry& cells) const
{
    const int across = std::max(1, std::min(maxWidth_, cells.columns * cells.cellWidth));
    const int rows = pixelsPerImage / across / std::max(cells.cellHeight, 1);
    return std::max(1, std::min(rows, maxHeight_ / std::max(cells.cellHeight, 1) - rowsAbove));
}

int SixelEncoder::runColumns(const CellGeometry& cells) const
{
    return std::max(maxWidth_ / std::max(cells.cellWidth, 1), 1);
}

void SixelEncoder::encodeRun(const Surface& surface, const Piece& piece, const CellGeometry& cells,
                             ByteBuffer& out)
{
    cutPoints_.clear();
    const int rows = piece.lastRow - piece.firstRow + 1, count = imagesDown(rows, cells);
    for (int k = 0; k < count; ++k) {
        Piece images = piece;
        images.firstRow = piece.firstRow + rows * k / count;
        images.lastRow = piece.firstRow + rows * (k + 1) / count - 1;
        encodeImages(surface, images, cells, out);
    }
}

int SixelEncoder::imagesDown(int rows, const CellGeometry& cells) const
{
    // Images of about runRows() rows: a run a little longer than two images' worth is two
    // images, not three small ones. None taller than the terminal shows.
    const int most = runRows(cells);
    const int tallest = std::max(1, maxHeight_ / std::max(cells.cellHeight, 1) - rowsAbove);
    return std::max({1, (rows + most / 2) / most, (rows + tallest - 1) / tallest});
}

void SixelEncoder::encodeImages(const Surface& surface, const Piece& piece,
                                const CellGeometry& cells, ByteBuffer& out)
{
    const int firstRow = piece.firstRow, lastRow = piece.lastRow;
    // A terminal scrolls the whole screen when an image reaches its last text row. xterm 379
    // and mlterm 3.9 go by the pixels drawn; other terminals may count whole six-pixel bands,
    // so the bands themselves end above that row.
    const int cellHeight = cells.cellHeight;
    const int limit = (cells.rows - 1) * cellHeight;
    int row = firstRow, top = firstRow * cellHeight;
    int bottom = std::min({(lastRow + 1) * cellHeight, surface.height(), limit});
    int first, last;
    if (bottom <= top || !surface.paintedSpan(top, bottom, surface.width(), first, last))
        return;
    auto endsOnABand = [&](int at) { return (limit - at * cellHeight) % 6 == 0; };
    if (top + (bottom - top + 5) / 6 * 6 > limit) {
        // So the last image starts on a text row from which whole bands end right above the
        // last text row: one of every six rows at most (fewer where the cell's height shares a
        // factor with six). The rows before it are an image of their own, whose bands end
        // within the rows that follow; where the run holds no such row, the image starts a few
        // rows higher and shows them again; in a window too small for either, it shows the
        // whole bands it can.
        int start = firstRow;
        while (start * cellHeight < bottom && !endsOnABand(start))
            ++start;
        if (start * cellHeight < bottom) {
            if (start > firstRow)
                encodeAcross(surface, piece, firstRow, top, start * cellHeight, cells, out);
            row = start;
        } else {
            start = firstRow;
            while (start > 0 && firstRow - start < rowsAbove && !endsOnABand(start))
                --start;
            if (endsOnABand(start) && bottom - start * cellHeight <= maxHeight_)
                row = start;
            else
                bottom = top + (limit - top) / 6 * 6;
        }
        top = row * cellHeight;
    }
    encodeAcross(surface, piece, row, top, bottom, cells, out);
}

void SixelEncoder::encodeAcross(const Surface& surface, const Piece& piece, int row, int top,
                                int bottom, const CellGeometry& cells, ByteBuffer& out)
{
    const int right =
        std::min(surface.width(), std::min(piece.endColumn, cells.columns) * cells.cellWidth);
    int first, last;
    if (bottom - top > maxHeight_ || !surface.paintedSpan(top, bottom, right, first, last))
        return;
    first = std::max(first, piece.firstColumn * cells.cellWidth);
    if (first > last)
        return;

    // Images start at a cell boundary; wide ones are cut into images the terminal will show.
    const int widest = runColumns(cells) * cells.cellWidth;
    for (int left = first / cells.cellWidth * cells.cellWidth; left <= last; left += widest) {
        const int width = std::min(widest, last + 1 - left);
        char place[32];
        const int length =
            std::snprintf(place, sizeof place, "\x1b[%d;%dH", row + 1, left / cells.cellWidth + 1);
        out.append(place, std::size_t(length));
        encodeImage(surface, left, top, width, bottom - top, out);
    }
}

void SixelEncoder::encodeImage(const Surface& surface, int left, int top, int width, int height,
                               ByteBuffer& out)
{
    palette_.choose(surface, left, top, width, height, registers_);
    const std::vector<SixelPalette::Percent>& palette = palette_.colours();

    // Room for what images of photographs take (up to about 4 bytes a pixel with many
    // registers) at once, rather than grown step by step, each step a copy into new pages:
    // room not written is never touched.
    out.reserve(std::size_t(width) * std::size_t(height) * 4);

    // DCS: P2 = 1 leaves unset pixels as they are; raster attributes: square pixels, the size.
    char* p = out.reserve(64 + palette.size() * 24);
    const char introducer[] = "\x1bP0;1;0q\"1;1;";
    for (const char* s = introducer; *s; ++s)
        *p++ = *s;
    p = putNumber(p, unsigned(width));
    *p++ = ';';
    p = putNumber(p, unsigned(height));
    for (std::size_t i = 0; i < palette.size(); ++i) {
        *p++ = '#';
        p = putNumber(p, unsigned(i));
        *p++ = ';';
        *p++ = '2';
        for (const unsigned char percent : {palette[i].red, palette[i].green, palette[i].blue}) {
            *p++ = ';';
            p = putNumber(p, percent);
        }
    }
    out.commit(p);

    // Band by band, each pixel's register found right before the band is written: six rows
    // of registers at a time, which stay in the cache.
    area_.assign(palette.size(), 0);
    lineOf_.resize(palette.size());
    firstColumn_.resize(palette.size());
    lastColumn_.resize(palette.size());
    rank_.resize(palette.size());
    pending_.resize(std::size_t(width) + 8);  // read eight columns at a time
    indices_.resize(6 * std::size_t(width));
    for (int band = 0; band * 6 < height; ++band) {
        if (band > 0) {
            cutHere(out);  // whole bands above: the image may end here
            out.append("-", 1);  // the next band; none after the last, which could scroll
        }
        const int rows = std::min(6, height - band * 6);
        for (int row = 0; row < rows; ++row)
            palette_.match(surface, left, top + band * 6 + row, width,
                           &indices_[std::size_t(row) * std::size_t(width)],
                           row > 0 ? &indices_[std::size_t(row - 1) * std::size_t(width)] : nullptr);
        encodeBand(rows, width, out);
    }
    out.append("\x1b\\", 2);
}

int SixelEncoder::firstLacking(int from, int to, int bits, int& common) const
{
    // Eight columns at a time, the word's byte k being column x + k (the memory's order on the
    // little-endian processors this is built for): each byte of `spread` holds `bits`, and
    // the columns from `to` on count as lacking. The first lacking one is the word's lowest
    // byte that is not zero.
    static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "columns are bytes of a word");
    const std::uint64_t spread = std::uint64_t(bits) * 0x0101010101010101u;
    std::uint64_t all = ~std::uint64_t(0);
    for (int x = from; x < to; x += 8) {
        std::uint64_t eight;
        std::memcpy(&eight, &pending_[std::size_t(x)], 8);  // pending_ runs on past the band
        std::uint64_t lacking = spread & ~eight;
        if (to - x < 8)
            lacking |= ~std::uint64_t(0) << (8 * (to - x));
        if (lacking != 0) {
            const int k = __builtin_ctzll(lacking) / 8;
            all &= eight | ~std::uint64_t(0) << (8 * k);  // the columns before it
            common &= fold(all);
            return x + k;
        }
        all &= eight;
    }
    common &= fold(all);
    return to;
}

void SixelEncoder::encodeBand(int rowsInBand, int width, ByteBuffer& out)
{
    // The band's set sixels, column by column: for each register in a column, the rows it sets.
    sixels_.clear();
    lines_.clear();
    const int* const top = indices_.data();
    for (int x = 0; x < width; ++x) {
        int column[6] = {-1, -1, -1, -1, -1, -1};
        unsigned painted = 0;
        for (int bit = 0; bit < rowsInBand; ++bit) {
            column[bit] = top[std::size_t(bit) * std::size_t(width) + std::size_t(x)];
            painted |= unsigned(column[bit] >= 0) << bit;
        }
        pending_[std::size_t(x)] = (unsigned char)painted;
        // Each register in the column, with every row that has it (all six rows compared: a
        // fixed count, without a branch).
        for (unsigned left = painted; left != 0;) {
            const int index = column[rowSets.lowest[left]];
            unsigned bits = 0;
            for (int other = 0; other < 6; ++other)
                bits |= unsigned(column[other] == index) << other;
            const int count = rowSets.count[bits];
            left &= ~bits;
            if (area_[std::size_t(index)] == 0) {
                lines_.push_back(index);
                firstColumn_[std::size_t(index)] = x;
            }
            area_[std::size_t(index)] += count;
            lastColumn_[std::size_t(index)] = x;
            sixels_.push_back(Sixel{index, x, int(bits)});
        }
    }

    // One line of sixel characters per register, written in passes across the band: a pass
    // starts at its left edge with the busiest line not yet written, and goes on, without
    // going back to the edge, with the line that starts nearest to the right of where the
    // last one ended, while one does. Going back costs the columns before a line's first
    // sixel (most of a line that holds a colour in a few places, as on a detailed
    // photograph); selecting a colour does not move. A line may also set pixels that a later
    // line draws in their own colour (a terminal draws a later sixel over an earlier one): in
    // a photograph's smooth regions a colour's edge then costs one side of the boundary, not
    // both.
    //
    // The lines were found in the order of their first columns; by area they are sorted by
    // counting (keys up to the band's largest area, not six times its width, which cost a
    // pass over thousands of counts a band), ties in the order found.
    byStart_ = lines_;
    const std::size_t count = lines_.size();
    int most = 0;
    for (const int index : lines_)
        most = std::max(most, area_[std::size_t(index)]);
    sortByKey(byStart_, std::size_t(most) + 1, [this, most](int index) { return most - area_[std::size_t(index)]; },
              byArea_, lines_);
    startingAt_.resize(std::size_t(width) + 1);
    free_.resize(count + 1);
    int column = 0;
    for (std::size_t k = 0; k <= count; ++k) {
        free_[k] = int(k);
        const int start = k < count ? firstColumn_[std::size_t(byStart_[k])] : width;
        while (column <= start)
            startingAt_[std::size_t(column++)] = int(k);
        if (k < count)
            rank_[std::size_t(byStart_[k])] = int(k);
    }
    // The first line not yet written at or after place k by first column: `free_` leads from
    // each place towards it.
    auto firstFree = [this](std::size_t k) {
        while (free_[k] != int(k)) {
            free_[k] = free_[std::size_t(free_[k])];
            k = std::size_t(free_[k]);
        }
        return k;
    };
    // The order the lines are written in, pass by pass. A pass ends where no line starts at
    // or after the column it reached, so a line starts a new one where it starts before that.
    order_.clear();
    std::size_t busiest = 0;  // in `lines_`: every line before it is written
    for (int cursor = -1; order_.size() < count;) {
        std::size_t k = count;
        if (cursor > 0)
            k = firstFree(std::size_t(startingAt_[std::size_t(cursor)]));
        if (k == count) {
            do
                k = std::size_t(rank_[std::size_t(lines_[busiest++])]);
            while (free_[k] != int(k));
        }
        const int index = byStart_[k];
        free_[k] = int(k) + 1;
        lineOf_[std::size_t(index)] = int(order_.size());
        order_.push_back(index);
        cursor = lastColumn_[std::size_t(index)] + 1;
    }

    // The sixels sorted by line, so that writing a line costs what it holds, not the band's
    // width.
    sortByKey(sixels_, count, [this](const Sixel& sixel) { return lineOf_[std::size_t(sixel.index)]; },
              lineStart_, sorted_);

    // Each line: which register, then its characters from where the pass is; nothing after
    // its last sixel. A run of one character goes on while one character can do for all its
    // columns: `lo`, the pixels of the line's colour in them, and `hi`, the pixels no line
    // before has drawn in any of them (a later line draws over the others in its own colour),
    // as long as lo fits in hi; it is written as lo.
    char* p = out.reserve(sixels_.size() * 14 + count * 16);
    int cursor = 0;  // the column the pass has reached
    for (std::size_t line = 0; line < count; ++line) {
        const Sixel* entry = &sorted_[std::size_t(lineStart_[line])];
        const Sixel* const end = &sorted_[0] + lineStart_[line + 1];
        if (entry->x < cursor) {
            *p++ = '$';  // back to the band's start for a new pass
            cursor = 0;
        }
        *p++ = '#';
        p = putNumber(p, unsigned(order_[line]));
        int x = cursor - 1, lo = 0, hi = 0, run = 0;
        for (;;) {
            // The columns before the next sixel, without the colour: the run before takes them
            // all if it can; else the next sixel's run takes them from where that one stopped;
            // else they are skipped (a run that took only some would leave a skip besides).
            const int next = entry->x, want = entry->bits;
            int stop = x + 1, before = hi;
            if (run > 0)
                stop = firstLacking(stop, next, lo, before);
            if (stop == next) {
                hi = before;
                run += next - x - 1;
            } else {
                int after = 63;
                if (firstLacking(stop, next, want, after) == next) {
                    p = putRun(p, run + (stop - x - 1), char('?' + lo));
                    lo = 0;
                    hi = after;
                    run = next - stop;
                } else {
                    p = putRun(p, run, char('?' + lo));
                    lo = hi = 0;
                    run = next - x - 1;
                }
            }
            x = next;
            const int free = pending_[std::size_t(x)];
            if (((lo | want) & ~(hi & free)) == 0) {
                lo |= want;
                hi &= free;
                ++run;
            } else {
                p = putRun(p, run, char('?' + lo));
                lo = want;
                hi = free;
                run = 1;
            }
            if (++entry == end)
                break;
        }
        p = putRun(p, run, char('?' + lo));
        cursor = x + 1;
        for (entry = &sorted_[std::size_t(lineStart_[line])]; entry < end; ++entry)
            pending_[std::size_t(entry->x)] &= (unsigned char)~entry->bits;
    }
    out.commit(p);
    for (const int index : lines_)
        area_[std::size_t(index)] = 0;
}
