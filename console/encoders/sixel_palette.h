// The colours of one sixel image, chosen for its own pixels. Where the image holds no more
// colours than the terminal has registers, each gets its own; else a median cut of them, refined
// by k-means passes (each moves every colour to the mean of the pixels nearest to it). No
// dithering: every pixel gets the nearest colour the terminal can show, so the picture keeps
// the file's pixels as closely as the registers allow.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

class SixelPalette {
public:
    static constexpr std::uint32_t none = 0xFFFFFFFF;  // a pixel never painted

    SixelPalette();
    ~SixelPalette();

    // Chooses at most `registers` colours for `pixels` (0x00BBGGRR, or `none`) and gives each
    // pixel its register in `indices` (-1 for `none`). Registers are numbered by use, the most
    // used first, and every register is used by some pixel.
    void choose(const std::vector<std::uint32_t>& pixels, int registers,
                std::vector<int>& indices);

    // The chosen colours as sixel defines them: percent of red, green and blue.
    struct Percent {
        unsigned char red, green, blue;
    };
    const std::vector<Percent>& colours() const { return percents_; }

private:
    class Nearest;

    void gatherCells(const std::vector<std::uint32_t>& pixels);
    void gatherColours(const std::vector<std::uint32_t>& pixels, std::vector<int>& indices);
    void medianCut(int wanted);
    void refine();
    void showable();
    void matchThroughCells(const std::vector<std::uint32_t>& pixels, std::vector<int>& indices);
    void matchColours(std::vector<int>& indices);
    void numberByUse(std::vector<int>& indices);

    // The colours the quantizer works on, each with its pixel count and the sums of their
    // channels (so that means stay exact): the image's colours gathered in cells of 4 x 4 x 4
    // levels, tens of thousands at most instead of up to a million pixels; or, where there are
    // few cells, the exact colours.
    struct Point {
        std::uint32_t colour, count;
        std::uint32_t sum[3];
    };
    std::vector<Point> points_;
    std::vector<int> cellAt_;   // by a cell's key (its levels / 4): its point, or -1
    std::vector<int> cellKey_;  // each cell's key
    std::vector<int> cellOf_;   // each pixel's cell

    std::vector<std::uint32_t> centres_;  // the colours being chosen
    std::vector<int> assigned_;           // each point's centre, from pass to pass
    std::vector<std::uint32_t> shown_;    // the centres as the terminal shows them
    std::vector<std::uint32_t> use_;      // and how many pixels each got
    std::vector<Percent> percents_;
    std::vector<int> gap2_;  // each shown colour's squared distance to the nearest other
    std::vector<int> colourIn_, colourBuckets_, nextColour_;  // the shown colours by bucket
    struct Candidate {
        int red, green, blue, index;
    };
    std::vector<int> candidateStart_;  // a cell's colours that may be nearest to its colours
    std::vector<Candidate> candidates_;
    std::vector<std::uint32_t> recentColour_;  // colours matched lately, and their registers
    std::vector<int> recentIndex_;
    std::unique_ptr<Nearest> nearest_;
};
