// The presenter over arbitrary paintings, windows and terminals: every encoder, cells 1 to 64
// pixels tall, rows painted in any order and steps, the window resized while pieces are encoded
// or written, stops that cut a presentation short. What the terminal gets must be exactly each
// presentation's prologue, the encoders' pieces in row order, each written whole at the size
// it was encoded for or cut after one of its cut points and ended with ST, and the epilogue:
// nothing else, nothing twice. And once the painting is over, every painted row the window
// holds has been shown since it was last painted or uncovered.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "console/encoders/halfblock_encoder.h"
#include "console/encoders/kitty_encoder.h"
#include "console/encoders/kitty_local_encoder.h"
#include "console/encoders/sixel_encoder.h"
#include "console/presentation.h"
#include "console/terminal/image_handover.h"
#include "fuzz_input.h"

namespace {

const std::string prologue = PaintingTerminal::paintPrologue;
const std::string epilogue = PaintingTerminal::paintEpilogue;
const std::string terminator = "\x1b\\";

struct Window {
    int columns, rows;
    bool operator==(const Window& o) const { return columns == o.columns && rows == o.rows; }
};

// What happened, in order, as the terminal saw it: presentations begun and ended, bytes
// written (at the window's size then), the window resized, text rows painted.
struct Event {
    enum Kind { begin, write, resize, end, paint } kind;
    std::string bytes;
    Window window{0, 0};
    int row = 0;        // the row painted
    bool stop = false;  // a stop cut this write short and ended the presentation
};

// A piece an encoder made: the piece it was given, its bytes, where they may be cut, the
// window it was made for, and the presentation it was made in.
struct Made {
    Piece run;
    std::string bytes;
    std::vector<std::size_t> cuts;
    Window window;
    int presentation;
};

struct Record {
    std::mutex mutex;  // pieces come from the helper threads too
    std::vector<Event> events;
    std::vector<Made> pieces;
    int presentations = 0;
    std::thread::id writer;
};

// The terminal, scripted by the input: after a write the window may change size, or a stop may
// cut the write short (the handler then ends the presentation itself, as Terminal's does).
class RecordingTerminal final : public PaintingTerminal {
public:
    RecordingTerminal(Record& record, Input& in, Window window)
        : record_(record), in_(in), window_(window), seen_(window)
    {
    }
    bool scripted = true;

    // A resize is recorded where the presenter can see it: sizes it never saw between two
    // looks at the window (narrowed and widened back) are not; this terminal has no resize
    // signals to tell of them (the viewer's resize test covers those).
    Size size() const override
    {
        if (!(window_ == seen_))
            record_.events.push_back(Event{Event::resize, "", window_});
        seen_ = window_;
        return Size{window_.columns, window_.rows, 0, 0};
    }

    // Maybe resizes the window, as the input says (only while scripted).
    void maybeResize()
    {
        if (scripted && in_.byte() % 6 == 0)
            window_ = Window{in_.in(1, 16), in_.in(1, 12)};
    }

    bool write(const char* data, std::size_t size) override
    {
        check(std::this_thread::get_id() == record_.writer, "a write from another thread");
        if (refused_)
            return false;
        // Read as the real terminal's write reads them, at most 64 KB a call: bytes that are
        // not the caller's to give are read past their end (AddressSanitizer tells), and a
        // size that wrapped below zero is caught before it takes all memory.
        std::string bytes;
        for (std::size_t at = 0; at < size; at += 1 << 16) {
            bytes.append(data + at, std::min<std::size_t>(size - at, 1 << 16));
            check(size < (std::size_t(1) << 30), "a write of " + std::to_string(size) + " bytes");
        }
        if (scripted && in_.byte() % 16 == 0) {
            bytes.resize(size * in_.byte() / 256);
            bytes += terminator + ::epilogue;
            record_.events.push_back(Event{Event::write, bytes, window_, 0, true});
            refused_ = cut_ = true;
            return false;
        }
        record_.events.push_back(Event{Event::write, bytes, window_});
        maybeResize();
        return true;
    }
    void beginPaint() override
    {
        std::lock_guard<std::mutex> lock(record_.mutex);
        ++record_.presentations;
        record_.events.push_back(Event{Event::begin, "", window_});
        refused_ = cut_ = false;
    }
    void endPaint() override { record_.events.push_back(Event{Event::end, "", window_}); }
    bool presentationCut() const override { return cut_; }

private:
    Record& record_;
    Input& in_;
    Window window_;
    mutable Window seen_;  // the window as the presenter last saw it
    bool refused_ = false, cut_ = false;
};

// Wraps an encoder: what it makes is recorded, and on the writing thread the window may be
// resized while it encodes.
class RecordingEncoder final : public Encoder {
public:
    RecordingEncoder(std::unique_ptr<Encoder> inner, Record& record, RecordingTerminal& terminal)
        : inner_(std::move(inner)), record_(record), terminal_(terminal)
    {
    }
    void reset() override { inner_->reset(); }
    void encodeRow(const Surface& surface, int row, const CellGeometry& cells,
                   ByteBuffer& out) override
    {
        encodeRun(surface, Piece{row, row}, cells, out);
    }
    bool showsRuns() const override { return inner_->showsRuns(); }
    int runRows(const CellGeometry& cells) const override { return inner_->runRows(cells); }
    int runColumns(const CellGeometry& cells) const override { return inner_->runColumns(cells); }
    void encodeRun(const Surface& surface, const Piece& run, const CellGeometry& cells,
                   ByteBuffer& out) override
    {
        const std::size_t from = out.size();
        inner_->encodeRun(surface, run, cells, out);
        cutPoints_.clear();
        Made piece{run, std::string(out.data() + from, out.size() - from), {},
                   Window{cells.columns, cells.rows}, 0};
        for (const std::size_t cut : inner_->cutPoints()) {
            check(cut >= from && cut <= out.size(), "a cut point outside what was encoded");
            piece.cuts.push_back(cut - from);
            cutPoints_.push_back(cut);
        }
        {
            std::lock_guard<std::mutex> lock(record_.mutex);
            piece.presentation = record_.presentations;
            record_.pieces.push_back(std::move(piece));
        }
        if (std::this_thread::get_id() == record_.writer)
            terminal_.maybeResize();
    }
    void unsent() override { inner_->unsent(); }
    void watchCuts(std::function<void(const ByteBuffer&)> watch) override
    {
        inner_->watchCuts(std::move(watch));
    }
    std::unique_ptr<Encoder> twin() const override
    {
        std::unique_ptr<Encoder> twin = inner_->twin();
        if (!twin)
            return nullptr;
        return std::make_unique<RecordingEncoder>(std::move(twin), record_, terminal_);
    }

private:
    std::unique_ptr<Encoder> inner_;
    Record& record_;
    RecordingTerminal& terminal_;
};

// Paints pixel rows [top, bottom) of the surface in a few colours, some pixels left out;
// whether any pixel was painted.
bool paintRows(Surface& surface, int top, int bottom, unsigned seed, int colours)
{
    bool any = false;
    for (int y = top; y < bottom; ++y)
        for (int x = 0; x < surface.width(); ++x) {
            const unsigned hash = (unsigned(x) * 2654435761u) ^ (unsigned(y) * 40503u) ^ seed;
            if (hash % 11 == 0 && (seed & 1))
                continue;
            const unsigned pick = (hash >> 8) % unsigned(colours);
            any = surface.set(x, y, (pick * 0x3F1D5Bu + seed) & 0xFFFFFF) || any;
        }
    return any;
}

// Checks one presentation's bytes against the pieces made for it, in row order (and side by
// side, left to right): the prologue, pieces whole, then perhaps one cut short, then the
// epilogue; a stop may end them anywhere.
// Returns, for each piece written whole, where its bytes end.
std::vector<std::pair<const Made*, std::size_t>> checkPresentation(
    std::string have, const std::vector<const Made*>& pieces, bool stopped)
{
    std::vector<std::pair<const Made*, std::size_t>> whole;
    if (stopped) {
        const std::string ending = terminator + epilogue;
        check(have.size() >= ending.size() &&
                  have.compare(have.size() - ending.size(), ending.size(), ending) == 0,
              "a stopped presentation not ended by the stop");
        have.resize(have.size() - ending.size());
    }
    // `token` at `at`: true where it is there whole; where the bytes end inside it, only a stop
    // explains that.
    std::size_t at = 0;
    auto take = [&](const std::string& token) {
        const std::size_t n = std::min(token.size(), have.size() - at);
        check(have.compare(at, n, token, 0, n) == 0, "bytes that are no part of a presentation");
        at += n;
        if (n < token.size())
            check(stopped && at == have.size(), "a presentation that ends inside a piece");
        return n == token.size();
    };
    if (!take(prologue))
        return whole;
    for (const Made* piece : pieces) {
        if (at == have.size() && stopped)
            return whole;
        const std::string& bytes = piece->bytes;
        if (at + bytes.size() <= have.size() && have.compare(at, bytes.size(), bytes) == 0) {
            at += bytes.size();
            whole.emplace_back(piece, at);
            continue;
        }
        // Not whole: cut short after one of its cut points and ended there, or cut anywhere by
        // a stop, or left out (the window changed after it was made). Nothing follows it.
        for (const std::size_t point : piece->cuts)
            if (at + point < have.size() && have.compare(at, point, bytes, 0, point) == 0 &&
                have.compare(at + point, terminator.size(), terminator, 0,
                             std::min(terminator.size(), have.size() - at - point)) == 0) {
                at += point;
                take(terminator);
                break;
            }
        const std::size_t left = have.size() - at;
        if (stopped && left < bytes.size() && have.compare(at, left, bytes, 0, left) == 0)
            return whole;
        break;
    }
    take(epilogue);
    check(at == have.size(), "bytes after a presentation's epilogue");
    return whole;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Input in{data, size};
    const int kind = in.in(0, 5);
    const bool images = kind != 0;
    CellGeometry cells;
    cells.cellWidth = images ? in.in(1, 8) : 1;
    cells.cellHeight = images ? in.in(1, 64) : 2;
    cells.columns = in.in(1, 16);
    cells.rows = in.in(1, 12);
    Surface surface(cells.columns * cells.cellWidth + in.in(-4, 4),
                    cells.rows * cells.cellHeight + in.in(-4, 4));
    const int textRows = (surface.height() + cells.cellHeight - 1) / cells.cellHeight;

    Record record;
    record.writer = std::this_thread::get_id();
    RecordingTerminal terminal(record, in, Window{cells.columns, cells.rows});
    ImageHandover handover;
    std::unique_ptr<Encoder> encoder;
    const int registers[] = {16, 256, 1024};
    switch (kind) {
    case 0: encoder.reset(new HalfBlockEncoder); break;
    case 1: encoder.reset(new KittyEncoder(1000)); break;
    case 2:
        encoder.reset(new KittyLocalEncoder(handover, ImageHandover::Medium::sharedMemory, 1000));
        break;
    default:
        encoder.reset(new SixelEncoder(registers[kind - 3], in.in(1, 400), in.in(1, 400)));
    }
    {
        Presentation presentation(
            terminal, surface,
            std::make_unique<RecordingEncoder>(std::move(encoder), record, terminal), cells);

        // Steps: some text rows painted (or none), then a look.
        for (int steps = in.in(1, 12); steps > 0; --steps) {
            for (int runs = in.in(0, 3); runs > 0 && surface.height() > 0; --runs) {
                const int row = in.in(0, std::max(textRows - 1, 0));
                const int last = std::min(textRows - 1, row + in.in(0, 4));
                const unsigned seed = in.byte();
                const int colours = in.in(1, 300);
                for (int r = row; r <= last; ++r)
                    if (paintRows(surface, r * cells.cellHeight,
                                  std::min((r + 1) * cells.cellHeight, surface.height()), seed,
                                  colours))
                        record.events.push_back(Event{Event::paint, "", Window{0, 0}, r});
            }
            presentation.present();
        }
        // The painting is over and the window stays as it is: what is left is shown.
        terminal.scripted = false;
        presentation.present();
        presentation.present();
    }
    handover.close(std::chrono::milliseconds(0));

    // Each presentation's bytes, pieces and windows, in turn; meanwhile which text rows the
    // terminal shows as painted: a row is shown once the pieces holding it in a presentation
    // (one, or several side by side) all arrived whole, and is no longer once painted again or
    // when a resize may have taken it (past the new edges, the new last row, everything where
    // the width changed).
    const Window last{terminal.size().columns, terminal.size().rows};
    std::vector<bool> shown(std::size_t(std::max(textRows, 0)), false), painted(shown);
    Window window{cells.columns, cells.rows};
    auto resized = [&](Window now) {
        for (int r = 0; r < int(shown.size()); ++r)
            if (now.columns != window.columns || r >= std::min(now.rows, window.rows) ||
                (now.rows < window.rows && r == now.rows - 1))
                shown[std::size_t(r)] = false;
        window = now;
    };
    int presentation = 0;
    for (std::size_t i = 0; i < record.events.size(); ++i) {
        const Event& event = record.events[i];
        if (event.kind == Event::paint) {
            shown[std::size_t(event.row)] = false;
            painted[std::size_t(event.row)] = true;
            continue;
        }
        if (event.kind == Event::resize) {
            resized(event.window);
            continue;
        }
        check(event.kind == Event::begin, "a presentation's bytes outside beginPaint and endPaint");
        ++presentation;
        // Its events up to endPaint: bytes, with the window each was written at.
        std::string have;
        std::vector<std::pair<std::size_t, Window>> writes;  // where each write ends
        std::vector<std::pair<std::size_t, Window>> resizes;
        bool stopped = false;
        for (++i; record.events[i].kind != Event::end; ++i) {
            const Event& e = record.events[i];
            check(e.kind == Event::write || e.kind == Event::resize, "a paint inside a look");
            if (e.kind == Event::resize) {
                resizes.emplace_back(have.size(), e.window);
                continue;
            }
            check(!stopped, "a write after a stop");
            have += e.bytes;
            writes.emplace_back(have.size(), e.window);
            stopped = e.stop;
        }
        std::vector<const Made*> pieces;
        for (const Made& piece : record.pieces)
            if (piece.presentation == presentation)
                pieces.push_back(&piece);
        std::stable_sort(pieces.begin(), pieces.end(), [](const Made* a, const Made* b) {
            return a->run.firstRow != b->run.firstRow ? a->run.firstRow < b->run.firstRow
                                                      : a->run.firstColumn < b->run.firstColumn;
        });
        const auto whole = checkPresentation(have, pieces, stopped);

        // Every byte of a piece was written at the window it was made for; in the order they
        // happened, pieces arriving whole and resizes change what shows.
        std::size_t begin = prologue.size();
        std::size_t nextResize = 0;
        for (const auto& [piece, end] : whole) {
            for (std::size_t w = 0, from = 0; w < writes.size(); from = writes[w++].first)
                if (writes[w].first > begin && from < end)
                    check(writes[w].second == piece->window,
                          "a piece written into a window of another size than it was made for");
            while (nextResize < resizes.size() && resizes[nextResize].first < end)
                resized(resizes[nextResize++].second);
            for (int r = piece->run.firstRow; r <= piece->run.lastRow; ++r)
                shown[std::size_t(r)] = true;
            begin = end;
        }
        while (nextResize < resizes.size())
            resized(resizes[nextResize++].second);
        // The pieces written whole come first; the rows of those after them were not shown.
        for (std::size_t p = whole.size(); p < pieces.size(); ++p)
            for (int r = pieces[p]->run.firstRow; r <= pieces[p]->run.lastRow; ++r)
                shown[std::size_t(r)] = false;
    }
    check(window == last, "the window's last size was not seen");

    // A sixel image never reaches the last text row: that row is not expected there.
    const int expectedRows = std::min(textRows, kind >= 3 ? last.rows - 1 : last.rows);
    for (int r = 0; r < expectedRows; ++r)
        check(!painted[std::size_t(r)] || shown[std::size_t(r)],
              "painted text row " + std::to_string(r) + " not shown at the end");
    return 0;
}
