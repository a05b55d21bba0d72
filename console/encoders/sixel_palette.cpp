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

// A colour's place in a grid of cubes 256 >> `bits` levels a side: its top `bits` bits of
// each channel.
int keyOf(std::uint32_t colour, int bits)
{
    const int drop = 8 - bits, mask = (1 << bits) - 1;
    return int((colour >> drop & unsigned(mask)) | (colour >> (8 + drop) & unsigned(mask)) << bits |
               (colour >> (16 + drop) & unsigned(mask)) << (2 * bits));
}

// Colours are gathered in cells of 4 x 4 x 4 levels.
constexpr int cellBits = 6;  // of each channel
constexpr int cellSize = 256 >> cellBits;  // levels a cell spans on each channel
constexpr int cellMask = (1 << cellBits) - 1;

// The palette's colours are looked up in coarser buckets, 8 levels a side.
constexpr int bucketBits = 5;
constexpr int bucketSize = 256 >> bucketBits;

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

// The nearest of a set of colours, found without looking at most of them: the colours in a
// k-d tree, each range split at its median along its widest channel. A search looks at the
// side of a split its colour lies on first, and at the other only where the split is nearer
// than the best colour found so far.
class SixelPalette::Nearest {
public:
    void build(const std::vector<std::uint32_t>& colours)
    {
        entries_.resize(colours.size());
        for (std::size_t i = 0; i < colours.size(); ++i)
            entries_[i] = Entry{{channel(colours[i], 0), channel(colours[i], 1), channel(colours[i], 2)},
                                int(i), 0};
        split(0, int(entries_.size()));
    }

    // The index of the colour nearest `colour`: `hint`, a colour known to be near, with its
    // squared distance, or else any colour with a distance larger than all.
    int find(std::uint32_t colour, int hint, int hintDistance) const
    {
        const int point[3] = {channel(colour, 0), channel(colour, 1), channel(colour, 2)};
        Best best{hint, hintDistance, -1};
        search(0, int(entries_.size()), point, best);
        return best.index;
    }

    // For each colour, the squared distance to the nearest other one: for a point nearer to
    // a colour than half that, no other colour is nearer.
    void gaps(std::vector<int>& gap2) const
    {
        gap2.resize(entries_.size());
        for (const Entry& entry : entries_) {
            Best best{-1, 1 << 30, entry.index};
            search(0, int(entries_.size()), entry.level, best);
            gap2[std::size_t(entry.index)] = best.distance;
        }
    }

private:
    struct Entry {
        int level[3];
        int index;
        int channel;  // where this entry splits its range: the channel it splits along
    };
    struct Best {
        int index, distance;
        int skip;  // a colour not to take
    };

    void split(int begin, int end)
    {
        if (end - begin < 2)
            return;
        int low[3] = {255, 255, 255}, high[3] = {0, 0, 0};
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
        entries_[std::size_t(middle)].channel = widest;
        split(begin, middle);
        split(middle + 1, end);
    }

    void search(int begin, int end, const int point[3], Best& best) const
    {
        if (begin >= end)
            return;
        const int middle = (begin + end) / 2;
        const Entry& entry = entries_[std::size_t(middle)];
        int d = 0;
        for (int c = 0; c < 3; ++c)
            d += (entry.level[c] - point[c]) * (entry.level[c] - point[c]);
        if (d < best.distance && entry.index != best.skip)
            best.index = entry.index, best.distance = d;
        const int apart = point[entry.channel] - entry.level[entry.channel];
        if (apart < 0) {
            search(begin, middle, point, best);
            if (apart * apart < best.distance)
                search(middle + 1, end, point, best);
        } else {
            search(middle + 1, end, point, best);
            if (apart * apart < best.distance)
                search(begin, middle, point, best);
        }
    }

    std::vector<Entry> entries_;
};

SixelPalette::SixelPalette()
    : cellAt_(1 << (3 * cellBits), -1), colourIn_(1 << (3 * bucketBits), -1), nearest_(new Nearest)
{
}

SixelPalette::~SixelPalette() = default;

void SixelPalette::choose(const std::vector<std::uint32_t>& pixels, int registers,
                          std::vector<int>& indices)
{
    registers = std::max(registers, 1);
    indices.resize(pixels.size());
    gatherCells(pixels);
    if (int(points_.size()) > registers) {
        // Many colours: chosen among the cells, then each pixel's own colour matched.
        medianCut(registers);
        refine();
        showable();
        matchThroughCells(pixels, indices);
    } else {
        // Few cells, so few colours: each its own register where they fit, else chosen among
        // the exact colours.
        gatherColours(pixels, indices);
        if (int(points_.size()) > registers) {
            medianCut(registers);
            refine();
            showable();
            matchColours(indices);
        } else {
            centres_.clear();
            for (const Point& point : points_)
                centres_.push_back(point.colour);
            showable();
            for (std::size_t i = 0; i < points_.size(); ++i)
                use_[i] = points_[i].count;
        }
    }
    numberByUse(indices);
}

void SixelPalette::gatherCells(const std::vector<std::uint32_t>& pixels)
{
    for (const int key : cellKey_)
        cellAt_[std::size_t(key)] = -1;
    cellKey_.clear();
    points_.clear();
    cellOf_.resize(pixels.size());
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        const std::uint32_t colour = pixels[i];
        if (colour == none) {
            cellOf_[i] = -1;
            continue;
        }
        const int key = keyOf(colour, cellBits);
        int at = cellAt_[std::size_t(key)];
        if (at < 0) {
            at = int(points_.size());
            cellAt_[std::size_t(key)] = at;
            cellKey_.push_back(key);
            points_.push_back(Point{0, 0, {0, 0, 0}});
        }
        cellOf_[i] = at;
        Point& cell = points_[std::size_t(at)];
        const std::uint32_t count = cell.count + 1, red = cell.sum[0] + (colour & 0xFF),
                            green = cell.sum[1] + (colour >> 8 & 0xFF),
                            blue = cell.sum[2] + (colour >> 16 & 0xFF);
        cell = Point{0, count, {red, green, blue}};
    }
    for (Point& cell : points_)
        cell.colour = rgb(int((cell.sum[0] + cell.count / 2) / cell.count),
                          int((cell.sum[1] + cell.count / 2) / cell.count),
                          int((cell.sum[2] + cell.count / 2) / cell.count));
}

void SixelPalette::gatherColours(const std::vector<std::uint32_t>& pixels,
                                 std::vector<int>& indices)
{
    // An open-addressing table; a cell holds at most 64 colours.
    std::size_t size = 64;
    while (size < 2 * std::min(pixels.size(), 64 * points_.size()))
        size *= 2;
    std::vector<int> slots(size, -1);
    points_.clear();
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        const std::uint32_t colour = pixels[i];
        if (colour == none) {
            indices[i] = -1;
            continue;
        }
        std::size_t at = (colour * 2654435761u) & (size - 1);
        while (slots[at] >= 0 && points_[std::size_t(slots[at])].colour != colour)
            at = (at + 1) & (size - 1);
        if (slots[at] < 0) {
            slots[at] = int(points_.size());
            points_.push_back(Point{colour, 0, {0, 0, 0}});
        }
        ++points_[std::size_t(slots[at])].count;
        indices[i] = slots[at];
    }
    for (Point& point : points_)
        for (int c = 0; c < 3; ++c)
            point.sum[c] = std::uint32_t(channel(point.colour, c)) * point.count;
}

void SixelPalette::medianCut(int wanted)
{
    // Splits the colours into at most `wanted` boxes, each time the box whose widest channel
    // is widest, at the median pixel along that channel; a box's colour is its mean.
    struct Box {
        std::size_t begin, end;
        int widest, range;
    };
    auto colour = [this](int point) { return points_[std::size_t(point)].colour; };
    std::vector<int> order(points_.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = int(i);
    auto measure = [&](Box& box) {
        int low[3] = {255, 255, 255}, high[3] = {0, 0, 0};
        for (std::size_t i = box.begin; i < box.end; ++i)
            for (int c = 0; c < 3; ++c) {
                const int v = channel(colour(order[i]), c);
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
            ++start[channel(colour(order[i]), c) + 1];
        for (int v = 0; v < 256; ++v)
            start[v + 1] += start[v];
        scratch.resize(box.end - box.begin);
        for (std::size_t i = box.begin; i < box.end; ++i) {
            const int v = channel(colour(order[i]), c);
            scratch[start[v]++] = order[i];
        }
        std::copy(scratch.begin(), scratch.end(), order.begin() + std::ptrdiff_t(box.begin));
        // The median by pixels, not by colours: busy colours get finer boxes.
        std::uint64_t total = 0;
        for (std::size_t i = box.begin; i < box.end; ++i)
            total += points_[std::size_t(order[i])].count;
        std::uint64_t seen = 0;
        std::size_t middle = box.begin + 1;
        for (std::size_t i = box.begin; i + 1 < box.end; ++i) {
            seen += points_[std::size_t(order[i])].count;
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
    // largest step (median cut's boxes are not where the nearest colours are).
    constexpr int passes = 4;
    std::vector<std::uint64_t> total(4 * centres_.size());
    for (int pass = 0; pass < passes; ++pass) {
        nearest_->build(centres_);
        std::fill(total.begin(), total.end(), 0);
        std::uint64_t moved = 0, all = 0;
        for (std::size_t i = 0; i < points_.size(); ++i) {
            const Point& point = points_[i];
            const int was = assigned_[i];
            const int k = nearest_->find(point.colour, was,
                                         distance2(point.colour, centres_[std::size_t(was)]));
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
    use_.assign(centres_.size(), 0);
    for (const std::uint32_t centre : centres_) {
        const Percent percent{(unsigned char)percentOf(channel(centre, 0)),
                              (unsigned char)percentOf(channel(centre, 1)),
                              (unsigned char)percentOf(channel(centre, 2))};
        percents_.push_back(percent);
        shown_.push_back(rgb(levelOf(percent.red), levelOf(percent.green), levelOf(percent.blue)));
    }
}

void SixelPalette::matchThroughCells(const std::vector<std::uint32_t>& pixels,
                                     std::vector<int>& indices)
{
    // For each cell, the colours that can be nearest to some colour in it; each pixel then
    // looks at its cell's few. The colour a cell went to in the last pass lies within some
    // distance R of every corner of the cell, so no colour farther than R from the whole cell
    // is ever nearest to a colour in it.
    auto lowCorner = [this](std::size_t cell, int low[3]) {
        const int key = cellKey_[cell];
        for (int c = 0; c < 3; ++c)
            low[c] = (key >> (c * cellBits) & cellMask) * cellSize;
    };
    auto farthestCorner2 = [this](const int low[3], int colour) {
        int sum = 0;
        for (int c = 0; c < 3; ++c) {
            const int level = channel(shown_[std::size_t(colour)], c);
            const int d = std::max(level - low[c], low[c] + cellSize - 1 - level);
            sum += d * d;
        }
        return sum;
    };
    auto apart2 = [this](const int low[3], int colour) {
        int sum = 0;
        for (int c = 0; c < 3; ++c) {
            const int level = channel(shown_[std::size_t(colour)], c);
            const int d = std::max({low[c] - level, level - low[c] - (cellSize - 1), 0});
            sum += d * d;
        }
        return sum;
    };

    // The shown colours by bucket, to look for them near a cell.
    for (std::size_t colour = 0; colour < shown_.size(); ++colour) {
        const int bucket = keyOf(shown_[colour], bucketBits);
        if (colourIn_[std::size_t(bucket)] < 0)
            colourBuckets_.push_back(bucket);
        nextColour_.push_back(colourIn_[std::size_t(bucket)]);
        colourIn_[std::size_t(bucket)] = int(colour);
    }
    nearest_->build(shown_);
    nearest_->gaps(gap2_);

    // Each cell's candidates: the colour it went to alone where no other lies within 2R of
    // it; else the colours within R of the cell, no farther than the nearest farthest corner
    // among them.
    candidateStart_.assign(points_.size() + 1, 0);
    candidates_.clear();
    std::vector<int> near;
    for (std::size_t i = 0; i < points_.size(); ++i) {
        int low[3];
        lowCorner(i, low);
        const int colour = assigned_[i];
        int reach2 = farthestCorner2(low, colour);
        near.clear();
        if (gap2_[std::size_t(colour)] > 4 * reach2) {
            near.push_back(colour);
        } else {
            const int reach = int(std::sqrt(double(reach2))) + 1;
            int from[3], to[3];  // buckets
            for (int c = 0; c < 3; ++c) {
                from[c] = std::max(low[c] - reach, 0) / bucketSize;
                to[c] = std::min(low[c] + cellSize - 1 + reach, 255) / bucketSize;
            }
            for (int blue = from[2]; blue <= to[2]; ++blue)
                for (int green = from[1]; green <= to[1]; ++green)
                    for (int red = from[0]; red <= to[0]; ++red)
                        for (int other = colourIn_[std::size_t(red | green << bucketBits | blue << 2 * bucketBits)];
                             other >= 0; other = nextColour_[std::size_t(other)])
                            if (apart2(low, other) <= reach2) {
                                near.push_back(other);
                                reach2 = std::min(reach2, farthestCorner2(low, other));
                            }
        }
        // Of those, the ones nearer than the colour nearest the cell's middle somewhere in it.
        int best = near[0], bestDistance = 1 << 30;
        for (const int other : near) {
            int d = 0;
            for (int c = 0; c < 3; ++c) {
                const int apart = 2 * channel(shown_[std::size_t(other)], c) - 2 * low[c] - (cellSize - 1);
                d += apart * apart;
            }
            if (d < bestDistance)
                bestDistance = d, best = other;
        }
        for (const int other : near) {
            if (apart2(low, other) > reach2)
                continue;
            int closer = 0;  // at the corner where `other` gains most on `best`
            for (int c = 0; c < 3; ++c) {
                const int mine = channel(shown_[std::size_t(other)], c);
                const int theirs = channel(shown_[std::size_t(best)], c);
                const int corner = mine > theirs ? low[c] + cellSize - 1 : low[c];
                closer += (mine - theirs) * (2 * corner - theirs - mine);
            }
            if (closer >= 0)
                candidates_.push_back(Candidate{channel(shown_[std::size_t(other)], 0),
                                                channel(shown_[std::size_t(other)], 1),
                                                channel(shown_[std::size_t(other)], 2), other});
        }
        candidateStart_[i + 1] = int(candidates_.size());
    }
    for (const int bucket : colourBuckets_)
        colourIn_[std::size_t(bucket)] = -1;
    colourBuckets_.clear();
    nextColour_.clear();

    // Photographs repeat their colours nearby: each pixel first looks in a small table of
    // colours matched lately.
    constexpr int recentBits = 12;
    recentColour_.assign(std::size_t(1) << recentBits, none);
    recentIndex_.resize(std::size_t(1) << recentBits);
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        const std::uint32_t pixel = pixels[i];
        const int cell = cellOf_[i];
        if (cell < 0) {
            indices[i] = -1;
            continue;
        }
        const std::size_t recent = (pixel * 2654435761u) >> (32 - recentBits);
        if (recentColour_[recent] != pixel) {
            const int red = channel(pixel, 0), green = channel(pixel, 1), blue = channel(pixel, 2);
            const Candidate* candidate = &candidates_[std::size_t(candidateStart_[std::size_t(cell)])];
            const Candidate* const end = &candidates_[0] + candidateStart_[std::size_t(cell) + 1];
            int best = candidate->index, bestDistance = 1 << 30;
            if (end - candidate == 1)
                candidate = end;  // the only one
            for (; candidate < end; ++candidate) {
                const int dr = candidate->red - red, dg = candidate->green - green,
                          db = candidate->blue - blue;
                const int d = dr * dr + dg * dg + db * db;
                if (d < bestDistance)
                    bestDistance = d, best = candidate->index;
            }
            recentColour_[recent] = pixel;
            recentIndex_[recent] = best;
        }
        indices[i] = recentIndex_[recent];
        ++use_[std::size_t(indices[i])];
    }
}

void SixelPalette::matchColours(std::vector<int>& indices)
{
    nearest_->build(shown_);
    std::vector<int> registerOf(points_.size());
    for (std::size_t i = 0; i < points_.size(); ++i) {
        const int hint = assigned_[i];
        registerOf[i] = nearest_->find(points_[i].colour, hint,
                                       distance2(points_[i].colour, shown_[std::size_t(hint)]));
        use_[std::size_t(registerOf[i])] += points_[i].count;
    }
    for (int& index : indices)
        if (index >= 0)
            index = registerOf[std::size_t(index)];
}

void SixelPalette::numberByUse(std::vector<int>& indices)
{
    // Busy registers get short numbers; unused ones (two centres that round to one colour, a
    // centre no pixel came to) are left out.
    std::vector<int> order;
    for (std::size_t i = 0; i < use_.size(); ++i)
        if (use_[i] > 0)
            order.push_back(int(i));
    std::stable_sort(order.begin(), order.end(),
                     [&](int a, int b) { return use_[std::size_t(a)] > use_[std::size_t(b)]; });
    std::vector<int> number(percents_.size(), -1);
    std::vector<Percent> numbered;
    for (const int old : order) {
        number[std::size_t(old)] = int(numbered.size());
        numbered.push_back(percents_[std::size_t(old)]);
    }
    percents_ = numbered;
    for (int& index : indices)
        if (index >= 0)
            index = number[std::size_t(index)];
}
