#include "console/encoders/sixel_encoder.h"

#include "console/bytes/decimal.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr std::uint32_t none = 0xFFFFFFFF;  // a pixel never painted

int channel(std::uint32_t colour, int which)
{
    return int((colour >> (8 * which)) & 0xFF);
}

// Sixel colours are percentages.
int percent(int value)
{
    return (value * 100 + 127) / 255;
}

// The distinct colours of an image, counted, in an open-addressing table.
struct ColourTable {
    std::vector<std::uint32_t> keys;
    std::vector<int> slots;  // index into `colours`, -1 where empty
    std::vector<std::uint32_t> colours;
    std::vector<int> counts;

    explicit ColourTable(std::size_t pixels)
    {
        std::size_t size = 64;
        while (size < 2 * pixels)
            size *= 2;
        keys.assign(size, 0);
        slots.assign(size, -1);
    }
    int add(std::uint32_t colour)
    {
        std::size_t at = (colour * 2654435761u) & (keys.size() - 1);
        while (slots[at] >= 0 && keys[at] != colour)
            at = (at + 1) & (keys.size() - 1);
        if (slots[at] < 0) {
            keys[at] = colour;
            slots[at] = int(colours.size());
            colours.push_back(colour);
            counts.push_back(0);
        }
        ++counts[std::size_t(slots[at])];
        return slots[at];
    }
};

// Median cut: splits the colours into at most `wanted` boxes, each time the box whose widest
// channel is widest, at the median pixel along that channel. Returns for each colour its box,
// and each box's mean colour.
void medianCut(const ColourTable& table, int wanted, std::vector<int>& boxOf,
               std::vector<std::uint32_t>& palette)
{
    struct Box {
        std::size_t begin, end;
        int widest, range;
    };
    std::vector<int> order(table.colours.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = int(i);
    auto measure = [&](Box& box) {
        int low[3] = {255, 255, 255}, high[3] = {0, 0, 0};
        for (std::size_t i = box.begin; i < box.end; ++i)
            for (int c = 0; c < 3; ++c) {
                const int v = channel(table.colours[std::size_t(order[i])], c);
                low[c] = std::min(low[c], v);
                high[c] = std::max(high[c], v);
            }
        box.widest = 0;
        for (int c = 1; c < 3; ++c)
            if (high[c] - low[c] > high[box.widest] - low[box.widest])
                box.widest = c;
        box.range = box.end - box.begin > 1 ? high[box.widest] - low[box.widest] : -1;
    };

    // The boxes in a heap, the widest on top.
    auto narrower = [](const Box& a, const Box& b) { return a.range < b.range; };
    std::vector<int> scratch;
    std::vector<Box> boxes{{0, order.size(), 0, 0}};
    measure(boxes[0]);
    while (int(boxes.size()) < wanted && boxes.front().range > 0) {
        std::pop_heap(boxes.begin(), boxes.end(), narrower);
        const Box box = boxes.back();
        boxes.pop_back();
        const int c = box.widest;
        // Sorted along that channel by counting: linear, which matters with thousands of colours.
        std::size_t start[257] = {};
        for (std::size_t i = box.begin; i < box.end; ++i)
            ++start[channel(table.colours[std::size_t(order[i])], c) + 1];
        for (int v = 0; v < 256; ++v)
            start[v + 1] += start[v];
        scratch.resize(box.end - box.begin);
        for (std::size_t i = box.begin; i < box.end; ++i) {
            const int v = channel(table.colours[std::size_t(order[i])], c);
            scratch[start[v]++] = order[i];
        }
        std::copy(scratch.begin(), scratch.end(), order.begin() + std::ptrdiff_t(box.begin));
        // The median by pixels, not by colours: busy colours get finer boxes.
        long total = 0;
        for (std::size_t i = box.begin; i < box.end; ++i)
            total += table.counts[std::size_t(order[i])];
        long seen = 0;
        std::size_t middle = box.begin + 1;
        for (std::size_t i = box.begin; i + 1 < box.end; ++i) {
            seen += table.counts[std::size_t(order[i])];
            middle = i + 1;
            if (2 * seen >= total)
                break;
        }
        for (const Box half : {Box{box.begin, middle, 0, 0}, Box{middle, box.end, 0, 0}}) {
            boxes.push_back(half);
            measure(boxes.back());
            std::push_heap(boxes.begin(), boxes.end(), narrower);
        }
    }

    boxOf.assign(table.colours.size(), 0);
    palette.clear();
    for (const Box& box : boxes) {
        long sum[3] = {0, 0, 0}, count = 0;
        for (std::size_t i = box.begin; i < box.end; ++i) {
            const std::uint32_t colour = table.colours[std::size_t(order[i])];
            const int weight = table.counts[std::size_t(order[i])];
            for (int c = 0; c < 3; ++c)
                sum[c] += long(channel(colour, c)) * weight;
            count += weight;
            boxOf[std::size_t(order[i])] = int(palette.size());
        }
        palette.push_back(std::uint32_t(sum[0] / count) | std::uint32_t(sum[1] / count) << 8 |
                          std::uint32_t(sum[2] / count) << 16);
    }
}

}  // namespace

SixelEncoder::SixelEncoder(int registers, int maxWidth, int maxHeight)
    : registers_(std::max(registers, 2)), maxWidth_(maxWidth), maxHeight_(maxHeight)
{
}

void SixelEncoder::encodeRow(const Surface& surface, int row, const CellGeometry& cells,
                             ByteBuffer& out)
{
    const int top = row * cells.cellHeight;
    const int height = std::min(top + cells.cellHeight, surface.height()) - top;
    // A terminal scrolls the whole screen when an image reaches its last text row: the image,
    // in whole bands of six pixel rows, must end above it.
    if (height <= 0 || height > maxHeight_ ||
        top + (height + 5) / 6 * 6 > (cells.rows - 1) * cells.cellHeight)
        return;

    const int right = std::min(surface.width(), cells.columns * cells.cellWidth);
    int first, last;
    if (!surface.paintedSpan(top, top + height, right, first, last))
        return;

    // Images start at a cell boundary; wide rows are cut into images the terminal will show.
    const int piece = std::max(maxWidth_ / cells.cellWidth, 1) * cells.cellWidth;
    for (int left = first / cells.cellWidth * cells.cellWidth; left <= last; left += piece) {
        const int width = std::min(piece, last + 1 - left);
        char place[32];
        const int length =
            std::snprintf(place, sizeof place, "\x1b[%d;%dH", row + 1, left / cells.cellWidth + 1);
        out.append(place, std::size_t(length));
        encodeImage(surface, left, top, width, height, out);
    }
}

void SixelEncoder::encodeImage(const Surface& surface, int left, int top, int width, int height,
                               ByteBuffer& out)
{
    const std::size_t pixels = std::size_t(width) * std::size_t(height);
    ColourTable table(pixels);
    colours_.resize(pixels);
    indices_.resize(pixels);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const std::uint32_t pixel = surface.get(left + x, top + y);
            const std::size_t at = std::size_t(y) * std::size_t(width) + std::size_t(x);
            colours_[at] = pixel == 0 ? none : pixel & 0xFFFFFF;
            indices_[at] = pixel == 0 ? -1 : table.add(colours_[at]);
        }

    // A register for each colour where there are enough; else the colours that stand for
    // them best.
    std::vector<int> boxOf;
    if (int(table.colours.size()) <= registers_) {
        palette_ = table.colours;
    } else {
        medianCut(table, registers_, boxOf, palette_);
        for (int& index : indices_)
            if (index >= 0)
                index = boxOf[std::size_t(index)];
    }

    // DCS: P2 = 1 leaves unset pixels as they are; raster attributes: square pixels, the size.
    char* p = out.reserve(64 + palette_.size() * 24);
    const char introducer[] = "\x1bP0;1;0q\"1;1;";
    for (const char* s = introducer; *s; ++s)
        *p++ = *s;
    p = putNumber(p, unsigned(width));
    *p++ = ';';
    p = putNumber(p, unsigned(height));
    for (std::size_t i = 0; i < palette_.size(); ++i) {
        *p++ = '#';
        p = putNumber(p, unsigned(i));
        *p++ = ';';
        *p++ = '2';
        for (int c = 0; c < 3; ++c) {
            *p++ = ';';
            p = putNumber(p, unsigned(percent(channel(palette_[i], c))));
        }
    }
    out.commit(p);

    // Band by band (six pixel rows), one line of sixel characters per register used in it.
    // The band's set sixels are gathered column by column, then sorted by register (counting,
    // so linear), so that writing a register's line costs what it holds, not the image's width.
    std::vector<int> start(palette_.size() + 1);  // where each register's sixels begin
    std::vector<int> used;
    for (int band = 0; band * 6 < height; ++band) {
        sixels_.clear();
        const int rowsInBand = std::min(6, height - band * 6);
        for (int x = 0; x < width; ++x) {
            int column[6];
            for (int bit = 0; bit < rowsInBand; ++bit)
                column[bit] = indices_[std::size_t(band * 6 + bit) * std::size_t(width) + std::size_t(x)];
            for (int bit = 0; bit < rowsInBand; ++bit) {
                const int index = column[bit];
                if (index < 0)
                    continue;
                int bits = 0;
                for (int other = bit; other < rowsInBand; ++other)
                    if (column[other] == index) {
                        bits |= 1 << other;
                        column[other] = -1;
                    }
                sixels_.push_back(Sixel{index, x, bits});
            }
        }

        std::fill(start.begin(), start.end(), 0);
        used.clear();
        for (const Sixel& sixel : sixels_)
            if (start[std::size_t(sixel.index) + 1]++ == 0)
                used.push_back(sixel.index);
        for (std::size_t i = 1; i < start.size(); ++i)
            start[i] += start[i - 1];
        sorted_.resize(sixels_.size());
        std::vector<int> next(start.begin(), start.end() - 1);
        for (const Sixel& sixel : sixels_)
            sorted_[std::size_t(next[std::size_t(sixel.index)]++)] = sixel;

        // Each line: which register, then its characters from the band's left edge, runs of
        // one character as "!count character"; nothing after its last set sixel.
        p = out.reserve(sixels_.size() * 8 + used.size() * 24 + 2);
        bool firstLine = true;
        for (const int index : used) {
            if (!firstLine)
                *p++ = '$';  // back to the band's start for the next register
            firstLine = false;
            *p++ = '#';
            p = putNumber(p, unsigned(index));
            auto run = [&p](int count, char character) {
                if (count >= 4) {
                    *p++ = '!';
                    p = putNumber(p, unsigned(count));
                    *p++ = character;
                } else {
                    while (count-- > 0)
                        *p++ = character;
                }
            };
            int x = 0;
            const Sixel* entry = &sorted_[std::size_t(start[std::size_t(index)])];
            const Sixel* const last = &sorted_[std::size_t(start[std::size_t(index) + 1]) - 1];
            while (entry <= last) {
                run(entry->x - x, '?');  // columns without this register
                int count = 1;
                while (entry + count <= last && entry[count].x == entry->x + count &&
                       entry[count].bits == entry->bits)
                    ++count;
                run(count, char('?' + entry->bits));
                x = entry->x + count;
                entry += count;
            }
        }
        if ((band + 1) * 6 < height)
            *p++ = '-';  // the next band; none after the last, which could scroll
        out.commit(p);
    }
    out.append("\x1b\\", 2);
}
