// Throughput of the console canvas's two halves: SetPixel into the surface, and the half-block
// encoding of a surface into terminal bytes. Reported as pixels per second.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <random>

#include "console/bytes/byte_buffer.h"
#include "console/encoders/halfblock_encoder.h"
#include "console/encoders/kitty_encoder.h"
#include "console/encoders/sixel_encoder.h"
#include "console/surface/surface.h"

namespace {

constexpr int width = 1920, height = 1080;

// Smooth gradients with noise: about as many colour changes per cell as a photograph.
std::uint32_t photoLike(int x, int y, std::mt19937& random)
{
    const unsigned noise = random() % 24;
    const unsigned red = (unsigned(x) * 255 / width + noise) & 0xFF;
    const unsigned green = (unsigned(y) * 255 / height + noise) & 0xFF;
    const unsigned blue = (unsigned(x + y) * 127 / (width + height) + 64 + noise) & 0xFF;
    return red | green << 8 | blue << 16;
}

void setPixel(benchmark::State& state)
{
    Surface surface(width, height);
    std::uint32_t colour = 0x123456;
    for (auto _ : state) {
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                surface.set(x, y, colour++);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * width * height);
}
BENCHMARK(setPixel)->Unit(benchmark::kMillisecond);

void encodeHalfBlocks(benchmark::State& state, bool flat)
{
    Surface surface(width, height);
    std::mt19937 random(7);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            surface.set(x, y, flat ? 0x336699 : photoLike(x, y, random));
    HalfBlockEncoder encoder;
    ByteBuffer out;
    CellGeometry cells;
    cells.columns = width;
    cells.rows = height / 2;
    for (auto _ : state) {
        out.clear();
        encoder.reset();
        for (int row = 0; row < height / 2; ++row)
            encoder.encodeRow(surface, row, cells, out);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * width * height);
    state.counters["bytes_per_pixel"] = double(out.size()) / (width * height);
}
BENCHMARK_CAPTURE(encodeHalfBlocks, photo, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(encodeHalfBlocks, flat, true)->Unit(benchmark::kMillisecond);

// The pixel canvases, on cells of 8 x 17 pixels: every text row of a 1920 x 1080 photo.
template <typename MakeEncoder>
void encodeImages(benchmark::State& state, MakeEncoder make)
{
    Surface surface(width, height);
    std::mt19937 random(7);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            surface.set(x, y, photoLike(x, y, random));
    auto encoder = make();
    ByteBuffer out;
    CellGeometry cells;
    cells.cellWidth = 8;
    cells.cellHeight = 17;
    cells.columns = width / 8;
    cells.rows = height / 17 + 2;  // room below, so that sixel shows every row
    for (auto _ : state) {
        out.clear();
        encoder->reset();
        // As the presenter gives a picture painted at once: all its rows as one run.
        encoder->encodeRun(surface, Piece{0, (height - 1) / 17}, cells, out);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * width * height);
    state.counters["bytes_per_pixel"] = double(out.size()) / (width * height);
}
BENCHMARK_CAPTURE(encodeImages, kitty, [] { return std::make_unique<KittyEncoder>(1); })
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(encodeImages, sixel1024,
                  [] { return std::make_unique<SixelEncoder>(1024, 1000, 1000); })
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(encodeImages, sixel256,
                  [] { return std::make_unique<SixelEncoder>(256, 1000, 1000); })
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
