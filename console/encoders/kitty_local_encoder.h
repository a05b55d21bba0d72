// kitty graphics for a terminal on the same machine: the pixels go into a shared memory object
// (or a temporary file) that the terminal reads itself, and only the object's name goes through
// the terminal, a hundred bytes or so whatever the picture's size. So each run of changed text
// rows is one image, trimmed to its painted pixels and placed at 1:1 exactly where the direct
// encoder would put those pixels. Should an object ever fail to be made, the rest of the run
// goes through the terminal as direct transmission, beginning with the run that failed.
#pragma once

#include <cstdint>
#include <vector>

#include "console/encoders/encoder.h"
#include "console/encoders/kitty_encoder.h"
#include "console/terminal/image_handover.h"

class KittyLocalEncoder final : public Encoder {
public:
    // `imageIds`: as for KittyEncoder; this encoder uses the 8192 numbers from there on.
    KittyLocalEncoder(ImageHandover& handover, ImageHandover::Medium medium,
                      std::uint32_t imageIds);

    void encodeRow(const Surface& surface, int row, const CellGeometry& cells,
                   ByteBuffer& out) override
    {
        encodeRun(surface, Piece{row, row}, cells, out);
    }
    bool showsRuns() const override { return true; }
    void encodeRun(const Surface& surface, const Piece& piece, const CellGeometry& cells,
                   ByteBuffer& out) override;
    // The last run's image never reached the terminal whole: its object is removed, and the
    // images it would have covered are still on screen.
    void unsent() override;

private:
    // False where the object could not be made (nothing was appended then).
    bool handOver(const Surface& surface, int firstRow, int lastRow, const CellGeometry& cells,
                  ByteBuffer& out);

    ImageHandover& handover_;
    const ImageHandover::Medium medium_;
    const std::uint32_t imageIds_;
    KittyEncoder direct_;
    bool direct_only_ = false;
    std::uint32_t imagesShown_ = 0;
    std::uint32_t nextId_ = 0;  // the next image number to try, in turn
    const char* lastObject_ = nullptr;  // the object the last run handed over, if any

    // The images on screen, by the pixel rows they cover: one that a later image covers
    // entirely is deleted, so the terminal keeps only what shows.
    struct Shown {
        std::uint32_t id;
        int top, bottom;
    };
    std::vector<Shown> shown_, shownBefore_;  // and as they were before the last run
    std::vector<unsigned char> pixels_;       // pixel rows on their way into an object
};
