// The terminal's replies over arbitrary bytes, read whole and cut anywhere (as they arrive in
// pieces), and the canvas chosen from them for an arbitrary window: what was read from a cut
// never goes back on what the whole says, and the canvas stays within its bounds.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "console/canvas_choice.h"
#include "console/terminal/terminal.h"
#include "console/terminal/terminal_probe.h"

namespace {

void check(bool holds, const char* what)
{
    if (!holds) {
        std::fprintf(stderr, "replies fuzzer: %s\n", what);
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // The first 10 bytes: the window as the kernel says it and where to cut; the rest: replies.
    if (size < 10)
        return -1;
    auto twoBytes = [&](std::size_t at) { return int(data[at]) | int(data[at + 1]) << 8; };
    const Terminal::Size window{twoBytes(0), twoBytes(2), twoBytes(4), twoBytes(6)};
    const std::string replies(reinterpret_cast<const char*>(data) + 10, size - 10);
    const std::size_t cut = std::size_t(twoBytes(8)) % (replies.size() + 1);

    const TerminalAbilities whole = parseReplies(replies);
    const TerminalAbilities part = parseReplies(replies.substr(0, cut));
    check(!part.answered || whole.answered, "a fence in part of the replies, not in all");
    check(!part.kittyGraphics || whole.kittyGraphics, "kitty in part, not in all");
    check(!part.kittySharedMemory || whole.kittySharedMemory, "shared memory in part only");
    check(!part.sixel || whole.sixel, "sixel in part, not in all");
    check(!part.statusReported || whole.statusReported, "the second fence in part, not in all");

    for (const TerminalAbilities* abilities : {&whole, &part}) {
        const int registers = registersToAskFor(*abilities);
        check(registers == 0 || (registers > abilities->colourRegisters && registers <= 4096 &&
                                 registers <= abilities->maxColourRegisters),
              "registers asked for past the terminal's maximum or 4096, or fewer than it has");
        const CanvasChoice choice = chooseCanvas(window, *abilities);
        check(choice.width > 0 && choice.width <= 4096, "a surface width out of bounds");
        check(choice.height > 0 && choice.height <= 4096, "a surface height out of bounds");
        check(choice.cells.cellWidth > 0 && choice.cells.cellHeight > 0, "an empty cell");
        check(choice.cells.columns > 0 && choice.cells.rows > 0, "an empty window");
        check(choice.registers >= 1 && choice.registers <= 65536, "colour registers out of bounds");
        check(choice.maxWidth > 0 && choice.maxHeight > 0, "an empty largest sixel image");
        check(choice.kind != CanvasChoice::Kind::kitty || abilities->kittyGraphics,
              "kitty images for a terminal that did not say it draws them");
    }
    return 0;
}
