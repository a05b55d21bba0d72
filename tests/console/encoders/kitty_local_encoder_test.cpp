// kitty images handed over in shared memory: decoded by the screen model, which reads the
// objects where they lie (no terminal takes them here), and what is left behind afterwards.
#include "console/encoders/kitty_local_encoder.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <chrono>

#include "image_screen.h"
#include "scripted_terminals.h"

namespace {

constexpr int columns = 40, rows = 12, cellWidth = 8, cellHeight = 17;

CellGeometry window()
{
    CellGeometry cells;
    cells.cellWidth = cellWidth;
    cells.cellHeight = cellHeight;
    cells.columns = columns;
    cells.rows = rows;
    return cells;
}

// Paints pixel rows [top, bottom) of a picture with holes at (13, 7), as the viewer would
// between two looks of the presenter, and returns the bytes that show the text rows touched.
std::string paintAndShow(Surface& surface, Encoder& encoder, int top, int bottom)
{
    for (int y = top; y < bottom; ++y)
        for (int x = 13; x < 13 + 250; ++x)
            if ((x + y) % 29 != 0)
                surface.set(x, y + 7, std::uint32_t(x * 977 + y * 131) & 0xFFFFFF);
    ByteBuffer out;
    encoder.encodeRun(surface, Piece{(top + 7) / cellHeight, (bottom + 6) / cellHeight}, window(), out);
    return out.str();
}

TEST(KittyLocalEncoder, EachRunIsOneImageInSharedMemoryAndTheLatestCoversTheEarlier)
{
    Surface surface(columns * cellWidth, rows * cellHeight);
    ImageHandover handover;
    KittyLocalEncoder encoder(handover, ImageHandover::Medium::sharedMemory, 5000);
    ImageScreen screen(columns, rows, cellWidth, cellHeight);

    // Three looks, each ending within a text row that the next one finishes.
    for (const auto& band : {std::make_pair(0, 40), std::make_pair(40, 100),
                             std::make_pair(100, 160)}) {
        const std::string bytes = paintAndShow(surface, encoder, band.first, band.second);
        EXPECT_NE(bytes.find(",t=s,"), std::string::npos);
        EXPECT_LT(bytes.size(), 200u);
        screen.feed(bytes);
        EXPECT_EQ(screen.wrongPixels(surface), 0) << "after pixel row " << band.second;
    }
    EXPECT_EQ(screen.problems(), std::vector<std::string>{});
    EXPECT_EQ(screen.kittyImagesShown(), 3);

    // Painting it all again in one look: one image covers them all, the rest are deleted.
    screen.feed(paintAndShow(surface, encoder, 0, 160));
    EXPECT_EQ(screen.kittyImagesShown(), 1);
    EXPECT_EQ(screen.problems(), std::vector<std::string>{});
    EXPECT_EQ(screen.wrongPixels(surface), 0);

    // No terminal took them: closing removes them all.
    EXPECT_EQ(objectsLeftBy(getpid()).size(), 4u);
    handover.close(std::chrono::milliseconds(0));
    EXPECT_EQ(objectsLeftBy(getpid()), std::vector<std::string>{});
}

TEST(KittyLocalEncoder, WhenAnObjectCannotBeMadeTheRestGoesThroughTheTerminal)
{
    Surface surface(columns * cellWidth, rows * cellHeight);
    ImageHandover handover;
    KittyLocalEncoder encoder(handover, ImageHandover::Medium::sharedMemory, 5000);
    ImageScreen screen(columns, rows, cellWidth, cellHeight);
    screen.feed(paintAndShow(surface, encoder, 0, 40));

    // Every slot taken by objects no terminal reads: the next run cannot be handed over.
    std::vector<ImageHandover::Object> fillers;
    ImageHandover::Object object;
    while (handover.create(ImageHandover::Medium::sharedMemory, 1, object)) {
        ImageHandover::finish(object);
        fillers.push_back(object);
    }
    const std::string failed = paintAndShow(surface, encoder, 40, 100);
    EXPECT_EQ(failed.find(",t=s,"), std::string::npos);
    EXPECT_NE(failed.find("a=T,f="), std::string::npos);
    screen.feed(failed);
    EXPECT_EQ(screen.wrongPixels(surface), 0);

    // And it stays so, even with room again.
    for (ImageHandover::Object& filler : fillers)
        handover.remove(filler.name);
    const std::string later = paintAndShow(surface, encoder, 100, 160);
    EXPECT_EQ(later.find(",t=s,"), std::string::npos);
    screen.feed(later);
    EXPECT_EQ(screen.problems(), std::vector<std::string>{});
    EXPECT_EQ(screen.wrongPixels(surface), 0);
}

TEST(ImageHandover, RemovesWhatTheTerminalDidNotTakeAndNothingIsMadeAfterASignal)
{
    ImageHandover handover;
    ImageHandover::Object taken, untaken, file;
    ASSERT_TRUE(handover.create(ImageHandover::Medium::sharedMemory, 3, taken));
    ASSERT_TRUE(handover.create(ImageHandover::Medium::sharedMemory, 3, untaken));
    ASSERT_TRUE(handover.create(ImageHandover::Medium::temporaryFile, 3, file));
    for (ImageHandover::Object* o : {&taken, &untaken, &file})
        ImageHandover::finish(*o);
    EXPECT_EQ(objectsLeftBy(getpid()).size(), 3u);
    shm_unlink(taken.name);  // as the terminal does once it has read one

    const auto start = std::chrono::steady_clock::now();
    handover.close(std::chrono::milliseconds(50));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50));
    EXPECT_EQ(objectsLeftBy(getpid()), std::vector<std::string>{});

    ASSERT_TRUE(handover.create(ImageHandover::Medium::sharedMemory, 3, untaken));
    ImageHandover::finish(untaken);
    handover.removeAllFromHandler();
    EXPECT_EQ(objectsLeftBy(getpid()), std::vector<std::string>{});
    EXPECT_FALSE(handover.create(ImageHandover::Medium::sharedMemory, 3, untaken));
}

}  // namespace
