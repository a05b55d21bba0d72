// The colours of one sixel image, chosen for its own pixels. Where the image holds no more
// colours than the terminal has registers, each gets its own; else boxes of them, cut where the
// error falls most, refined by k-means passes (each moves every colour to the mean of the
// pixels nearest to it). No dithering: every pixel gets the nearest colour the terminal can
// show, or one no eye tells from it where that continues a neighbour's colour, so the picture
// keeps the file's pixels as closely as the registers allow.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "console/surface/surface.h"
#include "console/bytes/zeroed_memory.h"

class SixelPalette {
public:
    SixelPalette();
    ~SixelPalette();

    // Chooses at most `registers` colours for the painted pixels of a rectangle of the
    // surface, read straight from it: the image is never copied. Registers are numbered by
    // how many pixels they are expected to get, the busiest first.
    void choose(const Surface& surface, int left, int top, int width, int height, int registers);

    // Each pixel of a row of that rectangle (pixel row `y` of the surface) as its register, -1
    // where it was never painted: a look in a table for most pixels, and a comparison with
    // the few colours that can be nearest for the others.
    // `above`: the registers of the row above it, where there is one (a pixel may take the
    // register of the pixel above it, or before it, where that is hardly farther).
    void match(const Surface& surface, int left, int y, int width, int* registers,
               const int* above = nullptr);

    // The chosen colours as sixel defines them: percent of red, green and blue.
    struct Percent {
        unsigned char red, green, blue;
    };
    const std::vector<Percent>& colours() const { return percents_; }

private:
    class Nearest;

    void gatherCells(const Surface& surface, int left, int top, int width, int height);
    void gatherColours(const Surface& surface, int left, int top, int width, int height);
    // The slot of the exact colours' table where a colour is, or would be.
    std::size_t slotOf(std::uint32_t colour) const;
    void varianceCut(int wanted);
    void refine();
    void showable();
    void sortCells();
    void numberByUse();

    // The colours the quantizer works on, each with its pixel count and the sums of their
    // channels (so that means stay exact): the image's colours gathered in cells of 4 x 4 x 4
    // levels, tens of thousands at most instead of up to a million pixels; or, where there are
    // few cells, the exact colours.
    struct Point {
        std::uint32_t colour, count;
        std::uint32_t sum[3];
    };
    std::vector<Point> points_;
    bool exact_ = false;  // points are the exact colours, not cells
    // By a cell's key (its levels / 4): while gathering, 1 + its point; once the colours are
    // chosen, 1 + its register, plus 2^16 x (1 + its alike register) where it has one (see
    // match), or -1 - the first of its candidates where the pixels in it differ in which
    // colour is nearest. 0: no pixel of the image lies in it. A megabyte that starts zero
    // without being written, of which an image touches what its colours use.
    ZeroedMemory cellMemory_;
    int* cellTable_;
    std::vector<int> cellKey_;  // each cell's key
    // The exact colours by hash, each slot a point (or -1); and each point's register.
    std::vector<int> colourSlots_;
    std::vector<int> registerOf_;
    std::vector<int> alikeOf_;  // each cell's alike colour, until numbered
    // For cells where it depends on the pixel: the colours that can be nearest, each with its
    // register, the first (the nearest to the cell's middle) repeated to fill the last four,
    // ended by one with register -2 - the cell's alike register (-1 where it has none): a
    // pixel compares them four at a time, so that most cells' lists end where the processor
    // expects.
    struct Candidate {
        unsigned char red, green, blue;
        int index;
    };
    static Candidate candidateOf(std::uint32_t colour, int index);
    // The register of the candidate nearest `colour`, from a cell's list, and the cell's alike
    // register (or -1).
    static int nearestCandidate(const Candidate* candidate, std::uint32_t colour, int& alike);
    std::vector<Candidate> candidates_;

    std::vector<std::uint32_t> centres_;  // the colours being chosen
    std::vector<int> assigned_;           // each point's centre, from pass to pass
    std::vector<std::uint32_t> shown_;    // the centres as the terminal shows them
    std::vector<std::uint64_t> use_;      // and how many pixels each is expected to get
    std::vector<int> number_;             // each centre's register, numbered by use
    std::vector<Percent> percents_;
    std::vector<std::uint32_t> colours_;       // the row being matched
    std::vector<std::uint32_t> recentColour_;  // colours matched lately, their registers and
    std::vector<int> recentIndex_, recentAlike_;  // alike ones
    std::vector<int> noneAbove_;               // -1s: the row above the first
    struct Recent {
        int looks = 0, found = 0;  // since the table was last judged
        int rowsLeft = 0;          // rows matched without it before it is tried again
    } recent_;
    std::unique_ptr<Nearest> nearest_;
};
