// True pixels as sixel images. Each run of text rows that changed becomes images of about half a
// million pixels, each with a palette of its own (sixel_palette.h), placed at a cell boundary
// with the part of the offset inside the cell left transparent, and cut where the terminal's
// largest image is narrower or lower. Pixels never painted are not drawn (P2 = 1) and keep what
// the terminal shows.
#pragma once

#include <cstdint>
#include <vector>

#include "console/encoders/encoder.h"
#include "console/encoders/sixel_palette.h"

class SixelEncoder final : public Encoder {
public:
    // `registers`: the colour registers the terminal offers; `maxWidth` and `maxHeight`: the
    // largest image it shows (xterm drops larger ones silently).
    SixelEncoder(int registers, int maxWidth, int maxHeight);

    void encodeRow(const Surface& surface, int row, const CellGeometry& cells,
                   ByteBuffer& out) override
    {
        encodeRun(surface, Piece{row, row}, cells, out);
    }
    bool showsRuns() const override { return true; }
    int runRows(const CellGeometry& cells) const override;
    // An image's width: a piece of a run is as wide as the terminal's widest image.
    int runColumns(const CellGeometry& cells) const override;
    void encodeRun(const Surface& surface, const Piece& piece, const CellGeometry& cells,
                   ByteBuffer& out) override;
    // How many images, one above the other, show `rows` text rows.
    int imagesDown(int rows, const CellGeometry& cells) const;
    std::unique_ptr<Encoder> twin() const override
    {
        return std::make_unique<SixelEncoder>(registers_, maxWidth_, maxHeight_);
    }

private:
    // The images of a piece's rows, of one image's height at most.
    void encodeImages(const Surface& surface, const Piece& piece, const CellGeometry& cells,
                      ByteBuffer& out);
    void encodeAcross(const Surface& surface, const Piece& piece, int row, int top, int bottom,
                      const CellGeometry& cells, ByteBuffer& out);
    void encodeImage(const Surface& surface, int left, int top, int width, int height,
                     ByteBuffer& out);
    void encodeBand(int rowsInBand, int width, ByteBuffer& out);
    // The first column from `from` up to `to` where not every pixel of `bits` is still to be
    // drawn (`to` where none); `common` keeps only the pixels still to be drawn in every column
    // before it.
    int firstLacking(int from, int to, int bits, int& common) const;

    int registers_, maxWidth_, maxHeight_;
    SixelPalette palette_;
    // The band being encoded: its pixels' registers (-1: never painted), row after row.
    std::vector<int> indices_;
    // A band being encoded: its set sixels, then sorted by line; the pixels of each column that
    // no line has drawn in their own colour yet.
    struct Sixel {
        int index;  // the register
        int x;
        int bits;  // which of the band's six rows it sets
    };
    std::vector<Sixel> sixels_, sorted_;
    std::vector<unsigned char> pending_;
    // By register: its pixels in the band, its line (the place it is written in), its first
    // and last column, and its place by first column.
    std::vector<int> area_, lineOf_, firstColumn_, lastColumn_, rank_;
    // The band's registers by area and by first column; for each column, the first of the
    // latter that starts there or after; the lines not yet written, by that order (see
    // encodeBand); the registers in the order they are written, and where each line's sixels
    // start in `sorted_` (and each area's lines in `lines_`).
    std::vector<int> lines_, byStart_, startingAt_, free_, order_, lineStart_, byArea_;
};
