#include "console/encoders/kitty_local_encoder.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "console/bytes/base64.h"

namespace {

// KittyEncoder numbers its images by text row, at most 4096 of them; run images take the next
// 4096 numbers.
constexpr std::uint32_t runIdsOffset = 4096, runIdsCount = 4096;

// Pixels go into an object this many bytes at a time.
constexpr std::size_t chunkBytes = 1 << 17;

}  // namespace

KittyLocalEncoder::KittyLocalEncoder(ImageHandover& handover, ImageHandover::Medium medium,
                                     std::uint32_t imageIds)
    : handover_(handover), medium_(medium), imageIds_(imageIds), direct_(imageIds)
{
}

void KittyLocalEncoder::encodeRun(const Surface& surface, const Piece& piece,
                                  const CellGeometry& cells, ByteBuffer& out)
{
    const int firstRow = piece.firstRow, lastRow = piece.lastRow;  // always the whole width
    cutPoints_.clear();
    shownBefore_ = shown_;
    lastObject_ = nullptr;
    if (!direct_only_ && handOver(surface, firstRow, lastRow, cells, out))
        return;
    // Through the terminal, an image a text row: a run of them may be megabytes, so a resize
    // may cut it between any two.
    direct_only_ = true;
    for (int row = firstRow; row <= lastRow; ++row) {
        if (row > firstRow)
            cutHere(out);
        direct_.encodeRow(surface, row, cells, out);
    }
}

void KittyLocalEncoder::unsent()
{
    shown_ = shownBefore_;
    if (lastObject_)
        handover_.remove(lastObject_);
    lastObject_ = nullptr;
}

bool KittyLocalEncoder::handOver(const Surface& surface, int firstRow, int lastRow,
                                 const CellGeometry& cells, ByteBuffer& out)
{
    const int right = std::min(surface.width(), cells.columns * cells.cellWidth);
    const int runTop = firstRow * cells.cellHeight;
    const int runBottom = std::min((lastRow + 1) * cells.cellHeight, surface.height());

    // The painted rectangle, in one look at each row: rows without a painted pixel are left
    // out above and below, the image placed by a pixel offset within its first cell.
    int first = right, last = -1, top = runBottom, bottom = runTop;
    for (int y = runTop; y < runBottom; ++y) {
        int rowFirst, rowLast;
        if (!surface.paintedSpan(y, y + 1, right, rowFirst, rowLast))
            continue;
        first = std::min(first, rowFirst);
        last = std::max(last, rowLast);
        top = std::min(top, y);
        bottom = y + 1;
    }
    if (last < 0)
        return true;
    const int width = last - first + 1, height = bottom - top;
    const int channels = kittyChannels(surface, first, top, width, height);

    ImageHandover::Object object;
    const std::size_t rowBytes = std::size_t(width) * std::size_t(channels);
    const std::size_t size = rowBytes * std::size_t(height);
    if (!handover_.create(medium_, size, object))
        return false;
    // A few pixel rows at a time through a buffer that stays in the cache and is kept from image
    // to image: the object's bytes are written once, by the system.
    const int rowsAtATime = int(std::max<std::size_t>(1, chunkBytes / rowBytes));
    if (pixels_.size() < rowBytes * std::size_t(std::min(rowsAtATime, height)))
        pixels_.resize(rowBytes * std::size_t(std::min(rowsAtATime, height)));
    bool written = true;
    for (int y = top; y < bottom && written; y += rowsAtATime) {
        const int rows = std::min(rowsAtATime, bottom - y);
        copyKittyPixels(surface, first, y, width, rows, channels, pixels_.data());
        written = ImageHandover::write(object, pixels_.data(), rowBytes * std::size_t(rows));
    }
    ImageHandover::finish(object);
    if (!written) {
        handover_.remove(object.name);
        return false;
    }
    lastObject_ = object.name;

    // Images this one covers entirely are gone from view: the terminal may free them. Its
    // number is one that no other image on screen has (an image sent with the number of one
    // still shown would replace it): the next in turn that is free, or one it covers. There is
    // always one: images none of which covers another have different first rows, so 4096 of
    // them are single pixel rows, of which this image covers one.
    auto covered = [&](const Shown& s) { return s.top >= top && s.bottom <= bottom; };
    std::uint32_t id = 0;
    for (std::uint32_t tries = 0; tries < runIdsCount; ++tries) {
        id = imageIds_ + runIdsOffset + nextId_++ % runIdsCount;
        if (std::none_of(shown_.begin(), shown_.end(),
                         [&](const Shown& s) { return s.id == id && !covered(s); }))
            break;
    }

    // Later images lie above earlier ones (z grows), so where runs overlap the newer pixels
    // show. Neither the cursor (C=1) moves nor does the terminal reply (q=2).
    const unsigned z = 1 + imagesShown_ % 0x40000000u;
    ++imagesShown_;
    const int row = top / cells.cellHeight, column = first / cells.cellWidth;
    const std::size_t nameLength = std::strlen(object.name);
    char* p = out.reserve(256 + nameLength * 2 + shown_.size() * 48);
    p += std::snprintf(p, 224,
                       "\x1b[%d;%dH\x1b_Ga=T,t=%c,f=%d,s=%d,v=%d,S=%zu,i=%u,X=%d,Y=%d,z=%u,C=1,"
                       "q=2;",
                       row + 1, column + 1,
                       medium_ == ImageHandover::Medium::sharedMemory ? 's' : 't', channels * 8,
                       width, height, size, unsigned(id), first - column * cells.cellWidth,
                       top - row * cells.cellHeight, z);
    p = putBase64(p, reinterpret_cast<const unsigned char*>(object.name), nameLength);
    *p++ = '\x1b';
    *p++ = '\\';

    // (An image whose number this one takes over is replaced by it anyway.)
    for (const Shown& s : shown_)
        if (covered(s) && s.id != id)
            p += std::snprintf(p, 48, "\x1b_Ga=d,d=I,i=%u,q=2\x1b\\", unsigned(s.id));
    out.commit(p);
    shown_.erase(std::remove_if(shown_.begin(), shown_.end(), covered), shown_.end());
    shown_.push_back(Shown{id, top, bottom});
    return true;
}
