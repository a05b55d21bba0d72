#include "console/encoders/sixel_palette.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

int channel(std::uint32_t colour, int which)
{
    return int((colour >> (8 * which)) & 0xFF);
}

std::uint32_t rgb(int red, int green, int blue)
{
    return std::uint32_t(red) | std::uint32_t(green) << 8 | std::uint32_t(blue) << 16;
}

int distance2(std::uint32_t a, std::uint32_t b)
{
    int sum = 0;
    for (int c = 0; c < 3; ++c) {
        const int d = channel(a, c) - channel(b, c);
        sum += d * d;
    }
    return sum;
}

// How much farther than the nearest colour (at a cell's middle) a colour may be and still be
// taken for a pixel where its neighbour has it: 4 levels of 255, under 2%. A pixel flipping
// between two colours this close shows nothing an eye can tell, and each flip costs a few
// bytes. Measured at 256 registers on the photographs of bench/ (bench/sixel_stages), 2,
// 3, 4 and 5 levels take 7, 9, 12 and 13% off the bytes of a plasma fractal for 0.17, 0.28,
// 0.39 and 0.49 dB, 3.5 to 4.4% off a forest's for 0.19 to 0.30 dB, and 19, 22, 24 and 25% off
// a smooth wallpaper's for 0.33, 0.58, 0.81 and 1.0 dB: past 4 a level takes less for as much.
constexpr int alikeLevels = 4;

// A cell's register and alike register share an int: 16 bits each, the sign kept clear.
constexpr int registerBits = 16;
constexpr int registerMask = (1 << registerBits) - 1;
constexpr int mostRegisters = registerMask;
constexpr int mostAlike = (1 << (registerBits - 1)) - 2;

// Colours are gathered in cells of 4 x 4 x 4 levels: a cell's key is the top 6 bits of each
// channel.
constexpr int cellBits = 6;
constexpr int cellSize = 256 >> cellBits;  // levels a cell spans on each channel
constexpr int cellMask = (1 << cellBits) - 1;

int cellOf(std::uint32_t colour)
{
    constexpr int drop = 8 - cellBits;
    return int((colour >> drop & cellMask) | (colour >> (8 + drop) & cellMask) << cellBits |
               (colour >> (16 + drop) & cellMask) << (2 * cellBits));
}

// A pixel no colour was matched to yet.
constexpr std::uint32_t noColour = 0xFFFFFFFF;

// The sixel percentage nearest a level, and the level a terminal shows for a percentage.
int percentOf(int level)
{
    return (level * 100 + 127) / 255;
}
int levelOf(int percent)
{
    return (percent * 255 + 50) / 100;
}

}  // namespace

// The nearest of a set of colours, found without looking at most of them. Each colour keeps a
// list of its nearest others: a colour nearer to a point than the colour `hint` is less than
// twice the hint's distance from the hint, so a search that starts from a good hint (the
// colour a point had before the colours moved, the one its neighbourhood has) looks at a few
// of the hint's list, nearest first, and stops at the first twice as far. Where the list ends
// before that, the search goes through a k-d tree: the colours, each range split at its
// median along its widest channel, down to ranges of a few colours, which are looked at whole
// (cheaper than splitting them further); it goes down the side of each split its colour lies
// on first, and looks at the other only where the split is nearer than the best colour found
// so far. Levels may be kept doubled, for points between levels.
class SixelPalette::Nearest {
public:
    // The colours, each listing its nearest others where about `searches` searches will start
    // from them, sixteen a colour at least; else only its nearest other, so that a point
    // nearer to its start than half the way to that one is known to be nearest it without a
    // search (longer lists would cost more than they save: measured at 1024 registers on the
    // smooth and detailed photographs, where an image holds 5,000 to 14,000 cells).
    void build(const std::vector<std::uint32_t>& colours, std::size_t searches, int scale = 1)
    {
        entries_.resize(colours.size());
        for (std::size_t i = 0; i < colours.size(); ++i)
            entries_[i] = Entry{{scale * channel(colours[i], 0), scale * channel(colours[i], 1),
                                 scale * channel(colours[i], 2)},
                                int(i)};
        splits_.resize(colours.size());
        split(0, int(entries_.size()));
        if (colours.size() > std::size_t(1) << 16)
            listNeighbours(0);  // more than a list's numbers hold: every search walks the tree
        else
            listNeighbours(searches < 16 * colours.size() ? 1 : neighbours);
    }

    // The index of the colour nearest `point`, and its squared distance: `hint` with
    // `distance` where none is nearer.
    int find(const int point[3], int hint, int& distance) const
    {
        const int limit = 4 * distance;
        int best = hint;
        const Neighbour* list = near_.data() + std::size_t(hint) * std::size_t(listed_);
        for (int i = 0; i < listed_ && list[i].apart < limit; ++i) {
            const int d = apart2(list[i], point);
            if (d < distance)
                best = list[i].index, distance = d;
        }
        if (holds(list, limit))
            return best;
        walk(point, [&] { return distance - 1; }, [&](const Entry& entry) {
            const int d = apart2(entry, point);
            if (d < distance)
                best = entry.index, distance = d;
        });
        return best;
    }
    int find(std::uint32_t colour, int hint, int hintDistance) const
    {
        const int point[3] = {channel(colour, 0), channel(colour, 1), channel(colour, 2)};
        return find(point, hint, hintDistance);
    }

    // Every colour other than `nearest` whose distance from `point` is at most `reach`, where
    // `nearest` is the colour nearest the point, `first` away: none of them is farther than
    // reach + first from it.
    void within(const int point[3], double reach, int nearest, double first,
                std::vector<int>& found) const
    {
        found.clear();
        const int reach2 = int(reach * reach);
        const int limit = int((reach + first) * (reach + first)) + 1;
        const Neighbour* list = near_.data() + std::size_t(nearest) * std::size_t(listed_);
        for (int i = 0; i < listed_ && list[i].apart < limit; ++i)
            if (apart2(list[i], point) <= reach2)
                found.push_back(list[i].index);
        if (holds(list, limit))
            return;
        found.clear();
        walk(point, [reach2] { return reach2; }, [&](const Entry& entry) {
            if (entry.index != nearest && apart2(entry, point) <= reach2)
                found.push_back(entry.index);
        });
    }

private:
    static constexpr int leaf = 8;    // colours in a range looked at whole
    static constexpr int depth = 32;  // splits on a way down, and more: 2^32 colours
    struct Entry {
        int level[3];
        int index;
    };
    // Where a range is split: the entries before its middle lie at or below `level` on
    // `channel`, those from the middle on at or above. Kept apart from the entries, which the
    // splits below it move.
    struct Split {
        int channel, level;
    };
    // A range of entries still to look at, and a lower bound of its squared distance.
    struct Range {
        int begin, end, bound;
    };

    // How many neighbours a colour lists: enough that most searches for the nearest colour
    // (which look as far as twice the start's distance) and for the colours that can be
    // nearest in a cell (as far as twice the middle's distance and the cell's width) end in
    // the list. Measured on the photographs of bench/ (bench/sixel_stages), quantizing with
    // 12 took up to a tenth longer, with 48 as long or longer at 1024 registers, the lists
    // costing more than they save.
    static constexpr int neighbours = 24;
    // A colour near another, as far from it as `apart` (squared). Small, so that lists of
    // a thousand colours stay in a few pages (levels are at most 510, registers 65536).
    struct Neighbour {
        int apart;
        std::uint16_t level[3], index;
    };
    // Whether a colour's list holds every colour nearer to it than `limit` (squared): those it
    // leaves out are at least as far as its last.
    bool holds(const Neighbour* list, int limit) const
    {
        return listed_ + 1 >= int(entries_.size()) || (listed_ > 0 && list[listed_ - 1].apart >= limit);
    }

    // Goes down the tree towards `point`, handing `visit` each colour of every range it
    // reaches; a range across a split from it is looked at only where the split is no farther
    // (squared) than `reach()`, which `visit` may lower as it goes.
    template <typename Reach, typename Visit>
    void walk(const int point[3], Reach reach, Visit visit) const
    {
        Range stack[depth];
        int pending = 0;
        stack[pending++] = Range{0, int(entries_.size()), 0};
        while (pending > 0) {
            Range range = stack[--pending];
            if (range.bound > reach())
                continue;
            while (range.end - range.begin > leaf) {
                const int middle = (range.begin + range.end) / 2;
                const Split& split = splits_[std::size_t(middle)];
                const int apart = point[split.channel] - split.level;
                if (apart < 0) {
                    stack[pending++] = Range{middle, range.end, apart * apart};
                    range.end = middle;
                } else {
                    stack[pending++] = Range{range.begin, middle, apart * apart};
                    range.begin = middle;
                }
            }
            for (int i = range.begin; i < range.end; ++i)
                visit(entries_[std::size_t(i)]);
        }
    }

    // The squared distance from a colour (an entry or a neighbour) to a point.
    template <typename Colour>
    static int apart2(const Colour& colour, const int point[3])
    {
        int d = 0;
        for (int c = 0; c < 3; ++c)
            d += (int(colour.level[c]) - point[c]) * (int(colour.level[c]) - point[c]);
        return d;
    }

    void split(int begin, int end)
    {
        if (end - begin <= leaf)
            return;
        int low[3] = {1 << 30, 1 << 30, 1 << 30}, high[3] = {0, 0, 0};
        for (int i = begin; i < end; ++i)
            for (int c = 0; c < 3; ++c) {
                low[c] = std::min(low[c], entries_[std::size_t(i)].level[c]);
                high[c] = std::max(high[c], entries_[std::size_t(i)].level[c]);
            }
        int widest = 0;
        for (int c = 1; c < 3; ++c)
            if (high[c] - low[c] > high[widest] - low[widest])
                widest = c;
        const int middle = (begin + end) / 2;
        std::nth_element(entries_.begin() + begin, entries_.begin() + middle, entries_.begin() + end,
                         [widest](const Entry& a, const Entry& b) { return a.level[widest] < b.level[widest]; });
        splits_[std::size_t(middle)] = Split{widest, entries_[std::size_t(middle)].level[widest]};
        split(begin, middle);
        split(middle, end);
    }

    // Each colour's `count` nearest others (all, where there are fewer), nearest first, from
    // the tree: each colour's walk looks no farther than the last of its list so far. Colours
    // are listed in the tree's order, each near the one before: that one's list, from here,
    // bounds how far this one's last can be, so the walk does not start unbounded.
    void listNeighbours(int count)
    {
        const int size = int(entries_.size());
        listed_ = std::min(count, std::max(size - 1, 0));
        near_.resize(std::size_t(size) * std::size_t(listed_));
        if (listed_ == 0)
            return;
        const Entry* before = nullptr;
        for (const Entry& entry : entries_) {
            Neighbour* list = &near_[std::size_t(entry.index) * std::size_t(listed_)];
            int have = 0, reach = 1 << 30;
            if (before != nullptr) {
                const Neighbour& last = near_[std::size_t(before->index + 1) * std::size_t(listed_) - 1];
                const double bound =
                    std::sqrt(double(apart2(*before, entry.level))) + std::sqrt(double(last.apart));
                reach = int(bound * bound) + 1;
            }
            walk(entry.level, [&] { return have < listed_ ? reach : list[listed_ - 1].apart; },
                 [&](const Entry& other) {
                     const int d = apart2(other, entry.level);
                     if (other.index == entry.index || (have == listed_ && d >= list[listed_ - 1].apart))
                         return;
                     int at = have < listed_ ? have++ : listed_ - 1;
                     for (; at > 0 && list[at - 1].apart > d; --at)
                         list[at] = list[at - 1];
                     list[at] = Neighbour{d,
                                          {std::uint16_t(other.level[0]), std::uint16_t(other.level[1]),
                                           std::uint16_t(other.level[2])},
                                          std::uint16_t(other.index)};
                 });
            before = &entry;
        }
    }

    std::vector<Entry> entries_;
    std::vector<Split> splits_;     // by a split range's middle entry
    int listed_ = 0;                // neighbours listed for each colour
    std::vector<Neighbour> near_;   // each colour's, by its index
};

SixelPalette::SixelPalette()
    : cellMemory_(sizeof(int) << (3 * cellBits)), cellTable_(static_cast<int*>(cellMemory_.data())),
      nearest_(new Nearest)
{
    // Room for as many cells as there are, and candidates for most images, taken once: growing
    // them would copy each into new pages, image after image. Room never written costs
    // nothing.
    points_.reserve(std::size_t(1) << (3 * cellBits));
    cellKey_.reserve(std::size_t(1) << (3 * cellBits));
    candidates_.reserve(std::size_t(1) << 20);
}

SixelPalette::~SixelPalette() = default;

void SixelPalette::choose(const Surface& surface, int left, int top, int width, int height,
                          int registers)
{
    registers = std::min(std::max(registers, 1), mostRegisters);
    gatherCells(surface, left, top, width, height);
    exact_ = int(points_.size()) <= registers;
    if (exact_) {
        // Few cells, so few colours: each its own register where they fit, else chosen among
        // the exact colours.
        gatherColours(surface, left, top, width, height);
        if (int(points_.size()) > registers) {
            varianceCut(registers);
            refine();
        } else {
            centres_.clear();
            assigned_.clear();
            for (const Point& point : points_) {
                assigned_.push_back(int(centres_.size()));
                centres_.push_back(point.colour);
            }
        }
    } else {
        // Many colours: chosen among the cells, then each pixel's own colour matched.
        varianceCut(registers);
        refine();
    }
    showable();
    sortCells();
    numberByUse();
}

namespace {

// Calls `visit` with the colour of each painted pixel of a rectangle of the surface.
template <typename Visit>
void eachPainted(const Surface& surface, int left, int top, int width, int height, Visit visit)
{
    for (int y = top; y < top + height; ++y)
        for (int x = left; x < left + width; ++x) {
            const std::uint32_t pixel = surface.get(x, y);
            if (pixel != 0)
                visit(pixel & 0xFFFFFF);
        }
}

}  // namespace

void SixelPalette::gatherCells(const Surface& surface, int left, int top, int width, int height)
{
    for (const int key : cellKey_)
        cellTable_[key] = 0;
    cellKey_.clear();
    points_.clear();
    eachPainted(surface, left, top, width, height, [this](std::uint32_t colour) {
        const int key = cellOf(colour);
        int at = cellTable_[key] - 1;
        if (at < 0) {
            at = int(points_.size());
            cellTable_[key] = at + 1;
            cellKey_.push_back(key);
            points_.push_back(Point{0, 0, {0, 0, 0}});
        }
        Point& cell = points_[std::size_t(at)];
        ++cell.count;
        cell.sum[0] += colour & 0xFF;
        cell.sum[1] += colour >> 8 & 0xFF;
        cell.sum[2] += colour >> 16 & 0xFF;
    });
    for (Point& cell : points_)
        cell.colour = rgb(int((cell.sum[0] + cell.count / 2) / cell.count),
                          int((cell.sum[1] + cell.count / 2) / cell.count),
                          int((cell.sum[2] + cell.count / 2) / cell.count));
}

std::size_t SixelPalette::slotOf(std::uint32_t colour) const
{
    const std::size_t mask = colourSlots_.size() - 1;
    std::size_t at = (colour * 2654435761u) & mask;
    while (colourSlots_[at] >= 0 && points_[std::size_t(colourSlots_[at])].colour != colour)
        at = (at + 1) & mask;
    return at;
}

void SixelPalette::gatherColours(const Surface& surface, int left, int top, int width, int height)
{
    // An open-addressing table, at most half full: a cell holds at most 64 colours.
    std::size_t size = 64;
    while (size < 2 * std::min(std::size_t(width) * std::size_t(height), 64 * points_.size()))
        size *= 2;
    colourSlots_.assign(size, -1);
    points_.clear();
    eachPainted(surface, left, top, width, height, [this](std::uint32_t colour) {
        const std::size_t at = slotOf(colour);
        if (colourSlots_[at] < 0) {
            colourSlots_[at] = int(points_.size());
            points_.push_back(Point{colour, 0, {0, 0, 0}});
        }
        ++points_[std::size_t(colourSlots_[at])].count;
    });
    for (Point& point : points_)
        for (int c = 0; c < 3; ++c)
            point.sum[c] = std::uint32_t(channel(point.colour, c)) * point.count;
}

void SixelPalette::varianceCut(int wanted)
{
    // Splits the colours into at most `wanted` boxes, each time the box whose split takes the
    // most off the squared error of the pixels to their box's mean, where it takes that most
    // (along any channel, between two levels); a box's colour is its mean. Boxes go where the
    // error is, not where most pixels are: on photographs 1.8 to 2.4 dB more than a median cut
    // by pixels (both refined the same way), for a fifth to a half more bytes, more colours
    // being drawn in each band.
    struct Box {
        std::size_t begin, end;
        double gain;  // what the best split takes off the error; <= 0: none
        int channel;  // along which
        int level;    // and where: the first level of the upper half
    };
    std::vector<int> order(points_.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = int(i);
    // A part's pixels contribute |sum|^2 / count to the error taken off: the error is the
    // squares' sum less that, and the squares' sum does not change with the split.
    struct Sums {
        std::uint64_t count = 0, channel[3] = {0, 0, 0};
        void add(std::uint64_t n, const std::uint32_t* sum)
        {
            count += n;
            for (int c = 0; c < 3; ++c)
                channel[c] += sum[c];
        }
        void add(const Sums& other)
        {
            count += other.count;
            for (int c = 0; c < 3; ++c)
                channel[c] += other.channel[c];
        }
        double weight() const
        {
            double squares = 0;
            for (int c = 0; c < 3; ++c)
                squares += double(channel[c]) * double(channel[c]);
            return squares / double(count);
        }
        Sums less(const Sums& part) const
        {
            Sums rest;
            rest.count = count - part.count;
            for (int c = 0; c < 3; ++c)
                rest.channel[c] = channel[c] - part.channel[c];
            return rest;
        }
    };
    // A box's pixels by level on each channel, so that every place to split it is weighed in
    // one pass over the levels, without sorting its colours. Cleared as it is read.
    std::vector<Sums> byLevel(3 * 256);
    auto measure = [&](Box& box) {
        box.gain = 0;
        Sums whole;
        int low[3] = {255, 255, 255}, high[3] = {0, 0, 0};
        for (std::size_t i = box.begin; i < box.end; ++i) {
            const Point& point = points_[std::size_t(order[i])];
            whole.add(point.count, point.sum);
            for (int c = 0; c < 3; ++c) {
                const int level = channel(point.colour, c);
                byLevel[std::size_t(256 * c + level)].add(point.count, point.sum);
                low[c] = std::min(low[c], level);
                high[c] = std::max(high[c], level);
            }
        }
        const double before = whole.weight();
        for (int c = 0; c < 3; ++c) {
            Sums lower;
            for (int level = low[c]; level <= high[c]; ++level) {
                Sums& here = byLevel[std::size_t(256 * c + level)];
                if (here.count == 0)
                    continue;
                lower.add(here);
                here = Sums();
                if (level == high[c])
                    break;
                const double gain = lower.weight() + whole.less(lower).weight() - before;
                if (gain > box.gain)
                    box.gain = gain, box.channel = c, box.level = level + 1;
            }
        }
    };

    // The boxes in a heap, the best split on top.
    auto less = [](const Box& a, const Box& b) { return a.gain < b.gain; };
    std::vector<Box> boxes{{0, order.size(), 0, 0, 0}};
    measure(boxes[0]);
    while (int(boxes.size()) < wanted && boxes.front().gain > 0) {
        std::pop_heap(boxes.begin(), boxes.end(), less);
        const Box box = boxes.back();
        boxes.pop_back();
        const std::size_t at = std::size_t(
            std::partition(order.begin() + std::ptrdiff_t(box.begin), order.begin() + std::ptrdiff_t(box.end),
                           [&](int i) { return channel(points_[std::size_t(i)].colour, box.channel) < box.level; }) -
            order.begin());
        for (const Box half : {Box{box.begin, at, 0, 0, 0}, Box{at, box.end, 0, 0, 0}}) {
            boxes.push_back(half);
            measure(boxes.back());
            std::push_heap(boxes.begin(), boxes.end(), less);
        }
    }

    centres_.clear();
    assigned_.resize(points_.size());
    for (const Box& box : boxes) {
        std::uint64_t sum[3] = {0, 0, 0}, count = 0;
        for (std::size_t i = box.begin; i < box.end; ++i) {
            const Point& point = points_[std::size_t(order[i])];
            for (int c = 0; c < 3; ++c)
                sum[c] += point.sum[c];
            count += point.count;
            assigned_[std::size_t(order[i])] = int(centres_.size());
        }
        centres_.push_back(rgb(int(sum[0] / count), int(sum[1] / count), int(sum[2] / count)));
    }
}

void SixelPalette::refine()
{
    // Each pass gives every colour to its nearest centre, then moves each centre to the mean of
    // the pixels it got. A few passes take most of what k-means can give; the first is the
    // largest step (the boxes are not where the nearest colours are). After boxes cut where
    // the error falls most, a fourth pass gave the three photographs of bench/ under 0.01 dB
    // (256 and 1024 registers), for a pass over every colour more. With many colours the boxes
    // are small, and the first pass takes most of the rest: at 1024 registers, passes after it
    // gave those photographs 0.01 to 0.03 dB for 4 to 6% of the sixel canvas's time
    // (bench/sixel_stages).
    const int passes = centres_.size() > 512 ? 1 : 3;
    std::vector<std::uint64_t> total(4 * centres_.size());
    for (int pass = 0; pass < passes; ++pass) {
        nearest_->build(centres_, points_.size());
        std::fill(total.begin(), total.end(), 0);
        std::uint64_t moved = 0, all = 0;
        for (std::size_t i = 0; i < points_.size(); ++i) {
            const Point& point = points_[i];
            const int was = assigned_[i];
            const int distance = distance2(point.colour, centres_[std::size_t(was)]);
            const int k = nearest_->find(point.colour, was, distance);
            moved += k != was ? point.count : 0;
            all += point.count;
            assigned_[i] = k;
            std::uint64_t* t = &total[4 * std::size_t(k)];
            for (int c = 0; c < 3; ++c)
                t[c] += point.sum[c];
            t[3] += point.count;
        }
        for (std::size_t k = 0; k < centres_.size(); ++k) {
            const std::uint64_t* t = &total[4 * k];
            if (t[3] > 0)
                centres_[k] = rgb(int((t[0] + t[3] / 2) / t[3]), int((t[1] + t[3] / 2) / t[3]),
                                  int((t[2] + t[3] / 2) / t[3]));
        }
        if (pass > 0 && moved * 200 < all)
            break;  // under half a percent of the pixels changed colour: as good as settled
    }
}

void SixelPalette::showable()
{
    // Sixel colours are percentages: the palette is what the terminal will show.
    percents_.clear();
    shown_.clear();
    for (const std::uint32_t centre : centres_) {
        const Percent percent{(unsigned char)percentOf(channel(centre, 0)),
                              (unsigned char)percentOf(channel(centre, 1)),
                              (unsigned char)percentOf(channel(centre, 2))};
        percents_.push_back(percent);
        shown_.push_back(rgb(levelOf(percent.red), levelOf(percent.green), levelOf(percent.blue)));
    }
}

SixelPalette::Candidate SixelPalette::candidateOf(std::uint32_t colour, int index)
{
    return Candidate{(unsigned char)channel(colour, 0), (unsigned char)channel(colour, 1),
                     (unsigned char)channel(colour, 2), index};
}

void SixelPalette::sortCells()
{
    // Each point's register, found once for the whole image. An exact colour has its nearest.
    // A cell's pixels lie in a box 4 levels a side, where the colour nearest the box's middle,
    // c1, is nearest to all of them unless another colour c is nearer somewhere in it: where
    // |p - c1|^2 - |p - c|^2 > 0, a linear function of p, largest at one corner of the box.
    // Only colours less than 2h farther from the middle than c1 can be (the box lies within
    // h = 1.5 * sqrt(3) levels of its middle): those are looked for, then each tried at its
    // corner. Where none remains, the whole cell gets c1; else its pixels choose among c1 and
    // those, each for itself. Distances from the middle are in half levels, so that it lies on
    // whole numbers. The colour nearest the middle after c1, where it is at most `alikeLevels`
    // farther from it, is the cell's alike colour.
    use_.assign(shown_.size(), 0);
    candidates_.clear();
    if (exact_) {
        nearest_->build(shown_, points_.size());
        registerOf_.resize(points_.size());
        for (std::size_t i = 0; i < points_.size(); ++i) {
            const int hint = assigned_[i];
            registerOf_[i] = nearest_->find(points_[i].colour, hint,
                                            distance2(points_[i].colour, shown_[std::size_t(hint)]));
            use_[std::size_t(registerOf_[i])] += points_[i].count;
        }
        return;
    }
    nearest_->build(shown_, points_.size(), 2);
    const double twoH = 2 * 2 * 1.5 * std::sqrt(3.0);
    std::vector<int> near;
    alikeOf_.resize(points_.size());
    for (std::size_t i = 0; i < points_.size(); ++i) {
        const int key = cellKey_[i];
        int low[3], middle[3], distance = 0;
        const int hint = assigned_[i];
        for (int c = 0; c < 3; ++c) {
            low[c] = (key >> (c * cellBits) & cellMask) * cellSize;
            middle[c] = 2 * low[c] + cellSize - 1;
            const int apart = 2 * channel(shown_[std::size_t(hint)], c) - middle[c];
            distance += apart * apart;
        }
        const int nearest = nearest_->find(middle, hint, distance);
        use_[std::size_t(nearest)] += points_[i].count;
        const double first = std::sqrt(double(distance));
        nearest_->within(middle, first + std::max(twoH, 2.0 * alikeLevels), nearest, first, near);
        const std::size_t start = candidates_.size();
        const std::uint32_t best = shown_[std::size_t(nearest)];
        const double alikeReach = first + 2 * alikeLevels;
        int alike = -1, alikeDistance = int(alikeReach * alikeReach);
        for (const int other : near) {
            const std::uint32_t colour = shown_[std::size_t(other)];
            int gain = 0;   // at the corner where `other` gains most on `nearest`
            int apart = 0;  // from the middle
            for (int c = 0; c < 3; ++c) {
                const int mine = channel(colour, c), theirs = channel(best, c);
                const int corner = mine > theirs ? low[c] + cellSize - 1 : low[c];
                gain += (mine - theirs) * (2 * corner - theirs - mine);
                apart += (2 * mine - middle[c]) * (2 * mine - middle[c]);
            }
            if (apart <= alikeDistance)
                alike = other, alikeDistance = apart;
            if (gain > 0) {
                if (candidates_.size() == start)
                    candidates_.push_back(candidateOf(best, nearest));
                candidates_.push_back(candidateOf(colour, other));
            }
        }
        alikeOf_[i] = alike;
        if (candidates_.size() == start) {
            cellTable_[key] = 1 + nearest;
        } else {
            cellTable_[key] = -1 - int(start);
            while ((candidates_.size() - start) % 4 != 0)
                candidates_.push_back(candidates_[start]);
            candidates_.push_back(candidateOf(0, -2 - alike));
        }
    }
}

void SixelPalette::numberByUse()
{
    // Busy registers get short numbers. Centres no pixel is expected to get (two that round to
    // one colour, one no colour came to) are left out, unless some pixel may yet choose them.
    std::vector<bool> kept(use_.size(), false);
    for (std::size_t i = 0; i < use_.size(); ++i)
        kept[i] = use_[i] > 0;
    for (const Candidate& candidate : candidates_)
        if (candidate.index >= 0)
            kept[std::size_t(candidate.index)] = true;
    std::vector<int> order;
    for (std::size_t i = 0; i < use_.size(); ++i)
        if (kept[i])
            order.push_back(int(i));
    std::stable_sort(order.begin(), order.end(),
                     [&](int a, int b) { return use_[std::size_t(a)] > use_[std::size_t(b)]; });
    number_.assign(percents_.size(), -1);
    std::vector<Percent> numbered;
    for (const int old : order) {
        number_[std::size_t(old)] = int(numbered.size());
        numbered.push_back(percents_[std::size_t(old)]);
    }
    percents_ = numbered;

    if (exact_) {
        for (int& index : registerOf_)
            index = number_[std::size_t(index)];
        return;
    }
    // An alike colour of the rarest ones (past 2^15 registers) is left out: it has no room.
    auto alikeNumber = [this](int alike) {
        const int number = alike < 0 ? -1 : number_[std::size_t(alike)];
        return number <= mostAlike ? number : -1;
    };
    for (std::size_t i = 0; i < cellKey_.size(); ++i) {
        int& entry = cellTable_[cellKey_[i]];
        if (entry > 0)
            entry = (1 + number_[std::size_t(entry - 1)]) | (1 + alikeNumber(alikeOf_[i])) << registerBits;
    }
    for (Candidate& candidate : candidates_)
        if (candidate.index >= 0)
            candidate.index = number_[std::size_t(candidate.index)];
        else
            candidate.index = -2 - alikeNumber(-2 - candidate.index);
    // Photographs repeat their colours nearby: a pixel in a cell of several candidates first
    // looks in a small table of colours matched lately.
    recentColour_.assign(std::size_t(1) << 12, noColour);
    recentIndex_.resize(recentColour_.size());
    recentAlike_.resize(recentColour_.size());
    recent_ = Recent{};
}

int SixelPalette::nearestCandidate(const Candidate* candidate, std::uint32_t colour, int& alike)
{
    const int red = channel(colour, 0), green = channel(colour, 1), blue = channel(colour, 2);
    int best = -1, bestDistance = 1 << 30;
    do {
        for (int k = 0; k < 4; ++k) {
            const int dr = candidate[k].red - red, dg = candidate[k].green - green,
                      db = candidate[k].blue - blue;
            const int d = dr * dr + dg * dg + db * db;
            const bool nearer = d < bestDistance;  // no branch: which is nearer is a coin toss
            bestDistance = nearer ? d : bestDistance;
            best = nearer ? candidate[k].index : best;
        }
        candidate += 4;
    } while (candidate->index >= 0);
    alike = -2 - candidate->index;
    return best;
}

void SixelPalette::match(const Surface& surface, int left, int y, int width, int* registers,
                         const int* above)
{
    // A pixel painted since the colours were chosen, in a colour they never saw, is left out:
    // its row is marked changed again, and the next look shows it.
    if (exact_) {
        for (int x = 0; x < width; ++x) {
            const std::uint32_t pixel = surface.get(left + x, y);
            const int point = pixel == 0 ? -1 : colourSlots_[slotOf(pixel & 0xFFFFFF)];
            registers[x] = point < 0 ? -1 : registerOf_[std::size_t(point)];
        }
        return;
    }
    // First each pixel's cell, without a branch: the look-ups do not wait on one another, and
    // the processor overlaps them (the table is a megabyte, most of them miss the nearest
    // cache). An unpainted pixel counts as one in a cell no colour came to.
    colours_.resize(std::size_t(width));
    for (int x = 0; x < width; ++x) {
        const std::uint32_t pixel = surface.get(left + x, y);
        const int entry = cellTable_[cellOf(pixel & 0xFFFFFF)];
        colours_[std::size_t(x)] = pixel & 0xFFFFFF;
        registers[x] = pixel != 0 ? entry : 0;
    }
    // Then the pixels whose cell has candidates compare them. Noise repeats no colour: there
    // the table of colours matched lately costs more than it saves (a quarter of the matching
    // on a plasma fractal). It is looked in while it finds at least a third of the colours
    // looked for, and tried again every few rows.
    const bool useRecent = recent_.rowsLeft == 0;
    if (!useRecent)
        --recent_.rowsLeft;
    int looks = 0, found = 0;
    // And noise in a photograph flips a pixel between two colours hardly apart, each flip
    // costing the sixel lines of both a few bytes: a pixel whose neighbour before it or above
    // it has its alike colour takes that one, unless the other has its own. Without a branch:
    // which way it goes is noise too.
    if (above == nullptr) {
        noneAbove_.resize(std::size_t(width), -1);
        above = noneAbove_.data();
    }
    int before = -1;
    for (int x = 0; x < width; ++x) {
        const int entry = registers[x];
        int own = (entry & registerMask) - 1, alike = (entry >> registerBits) - 1;
        if (entry < 0) {
            // Where the pixel's nearest is not the one nearest the cell's middle, that one is
            // as good as an alike colour.
            const Candidate* const list = &candidates_[std::size_t(-1 - entry)];
            const std::uint32_t colour = colours_[std::size_t(x)];
            const std::size_t recent = useRecent ? (colour * 2654435761u) >> 20 : 0;
            looks += useRecent;
            if (useRecent && recentColour_[recent] == colour) {
                ++found;
                own = recentIndex_[recent], alike = recentAlike_[recent];
            } else {
                own = nearestCandidate(list, colour, alike);
                alike = own != list->index ? list->index : alike;
                if (useRecent)
                    recentColour_[recent] = colour, recentIndex_[recent] = own, recentAlike_[recent] = alike;
            }
        }
        const int up = above[x];
        const bool take = (alike >= 0) & (own != up) &
                          ((alike == before) | ((alike == up) & (own != before)));
        registers[x] = before = own ^ ((alike ^ own) & -int(take));
    }
    recent_.looks += looks;
    recent_.found += found;
    if (useRecent && recent_.looks >= 1024) {
        recent_.rowsLeft = 3 * recent_.found < recent_.looks ? 16 : 0;
        recent_.looks = recent_.found = 0;
    }
}
