#include "console/terminal/terminal_probe.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "console/bytes/base64.h"

namespace {

// The kitty query images' numbers, so that each reply says which question it answers.
constexpr char directQuery[] = "Gi=4242", sharedMemoryQuery[] = "Gi=4243", fileQuery[] = "Gi=4244";

// The most colour registers the viewer asks for (see registersToAskFor).
constexpr int registersWanted = 4096;

std::string localQuery(const char* number, char medium, const char* name)
{
    std::string encoded(std::strlen(name) / 3 * 4 + 4, '\0');
    char* end = putBase64(&encoded[0], reinterpret_cast<const unsigned char*>(name),
                          std::strlen(name));
    encoded.resize(std::size_t(end - encoded.data()));
    return std::string("\x1b_") + number + ",s=1,v=1,a=q,t=" + medium + ",f=24;" + encoded +
           "\x1b\\";
}

std::vector<int> numbers(const std::string& text)
{
    std::vector<int> values;
    std::size_t at = 0;
    while (at <= text.size()) {
        const std::size_t end = std::min(text.find(';', at), text.size());
        const std::string field = text.substr(at, end - at);
        values.push_back(field.empty() || field.size() > 6 ? 0 : std::atoi(field.c_str()));
        at = end + 1;
    }
    return values;
}

// What one control sequence of the replies says. `registerReplies` counts the replies about
// colour registers so far: the first is the number in force, the second the maximum, in the
// order the questions were asked (an error reply keeps its place in that order).
void controlSequence(const std::string& parameters, char final, TerminalAbilities& abilities,
                     int& registerReplies)
{
    const char marker = parameters.empty() ? '\0' : parameters[0];
    const bool questioned = marker == '?';
    const std::vector<int> p =
        numbers(questioned || marker == '>' ? parameters.substr(1) : parameters);
    if (questioned && final == 'c') {  // DA1: ESC [ ? 62 ; 4 ; ... c
        abilities.answered = true;
        abilities.deviceClass = p[0];
        for (std::size_t i = 1; i < p.size(); ++i)
            abilities.sixel = abilities.sixel || p[i] == 4;
    } else if (marker == '>' && final == 'c') {  // DA2: ESC [ > 85 ; 95 ; 0 c
        abilities.terminalType = p[0];
    } else if (final == 'n' && parameters == "0") {  // DSR 5: ESC [ 0 n
        abilities.statusReported = true;
    } else if (questioned && final == 'y' && p.size() == 2 && p[0] == 25) {
        // DECRQM's answer for mode 25, "ESC [ ? 25 ; 1 $ y": 1 or 3 shown, 2 or 4 hidden.
        if (p[1] == 1 || p[1] == 3)
            abilities.cursor = TerminalAbilities::Cursor::shown;
        else if (p[1] == 2 || p[1] == 4)
            abilities.cursor = TerminalAbilities::Cursor::hidden;
    } else if (questioned && final == 'S' && p.size() >= 2) {
        // XTSMGRAPHICS: ESC [ ? item ; status ; values S, status 0 for success. xterm answers
        // a failure without values ("ESC [ ? 1 ; 3 S"); mlterm 3.9 answers the question about
        // the image size as if it were about registers ("ESC [ ? 1 ; 3 ; 0 S"), after the two
        // register questions, where it changes nothing.
        const bool success = p[1] == 0 && p.size() >= 3;
        if (p[0] == 1) {
            const int order = registerReplies++;
            if (success && order == 0)
                abilities.colourRegisters = p[2];
            else if (success && order == 1)
                abilities.maxColourRegisters = p[2];
        } else if (p[0] == 2 && success && p.size() >= 4) {
            abilities.sixelMaxWidth = p[2], abilities.sixelMaxHeight = p[3];
        }
    } else if (!questioned && final == 't' && p.size() >= 3) {
        if (p[0] == 4)  // ESC [ 4 ; height ; width t
            abilities.textHeight = p[1], abilities.textWidth = p[2];
        else if (p[0] == 6)  // ESC [ 6 ; height ; width t
            abilities.cellHeight = p[1], abilities.cellWidth = p[2];
    }
}

bool named(const std::string& name, std::initializer_list<const char*> names)
{
    return std::any_of(names.begin(), names.end(), [&](const char* n) { return name == n; });
}

}  // namespace

KittyQuestions whenToAskKitty(const char* term, bool insideScreen)
{
    const std::string name = term ? term : "";
    if (insideScreen || name.rfind("rxvt", 0) == 0 || name == "linux")
        return KittyQuestions::never;
    // kitty, ghostty and WezTerm draw kitty images (their documentation says so); foot 1.13 was
    // seen to ignore the questions without a trace. TERM crosses ssh, so these are known in a
    // remote session too, where a second write would cost a second round trip.
    if (named(name, {"xterm-kitty", "xterm-ghostty", "wezterm", "foot", "foot-extra"}))
        return KittyQuestions::first;
    return KittyQuestions::second;
}

bool sessionIsRemote(const std::function<const char*(const char*)>& variable)
{
    for (const char* name : {"SSH_CONNECTION", "SSH_CLIENT", "SSH_TTY"}) {
        const char* value = variable(name);
        if (value && *value)
            return true;
    }
    return false;
}

bool printsUnknownStrings(const TerminalAbilities& first)
{
    return first.terminalType == 85 || first.terminalType == 83 || first.deviceClass == 6;
}

std::string kittyQuestions(const char* sharedMemoryName, const char* fileName)
{
    std::string queries = std::string("\x1b_") + directQuery + ",s=1,v=1,a=q,t=d,f=24;AAAA\x1b\\";
    if (sharedMemoryName)
        queries += localQuery(sharedMemoryQuery, 's', sharedMemoryName);
    if (fileName)
        queries += localQuery(fileQuery, 't', fileName);
    return queries;
}

std::string firstQuestions(bool withKitty, const char* sharedMemoryName, const char* fileName)
{
    return (withKitty ? kittyQuestions(sharedMemoryName, fileName) : std::string()) +
           "\x1b[?1;1;0S" "\x1b[?1;4;0S" "\x1b[?2;1;0S" "\x1b[14t" "\x1b[16t" "\x1b[?25$p"
           "\x1b[>c" "\x1b[c";
}

std::string secondQuestions(bool withKitty, int registers, const char* sharedMemoryName,
                            const char* fileName)
{
    return (withKitty ? kittyQuestions(sharedMemoryName, fileName) : std::string()) +
           (registers > 0 ? registersSetting(registers) : std::string()) + "\x1b[5n";
}

std::string registersSetting(int registers)
{
    return "\x1b[?1;3;" + std::to_string(registers) + "S";
}

int registersToAskFor(const TerminalAbilities& first)
{
    if (!first.sixel || first.kittyGraphics || first.colourRegisters <= 0)
        return 0;
    const int wanted = std::min(first.maxColourRegisters, registersWanted);
    return wanted > first.colourRegisters ? wanted : 0;
}

TerminalAbilities withSecondAnswers(TerminalAbilities first, const TerminalAbilities& second,
                                    bool registersSet)
{
    first.kittyGraphics = first.kittyGraphics || second.kittyGraphics;
    first.kittySharedMemory = first.kittySharedMemory || second.kittySharedMemory;
    first.kittyFiles = first.kittyFiles || second.kittyFiles;
    if (registersSet && second.colourRegisters > 0)
        first.colourRegisters = second.colourRegisters;
    return first;
}

TerminalAbilities parseReplies(const std::string& replies)
{
    TerminalAbilities abilities;
    int registerReplies = 0;
    std::size_t at = 0;
    while ((at = replies.find('\x1b', at)) != std::string::npos && at + 1 < replies.size()) {
        const char kind = replies[at + 1];
        if (kind == '[') {  // CSI: parameters, then one final byte
            std::size_t end = at + 2;
            while (end < replies.size() && replies[end] >= 0x20 && replies[end] <= 0x3f)
                ++end;
            if (end >= replies.size())
                break;  // cut short: wait for the rest
            if ((unsigned char)replies[end] >= 0x40 && (unsigned char)replies[end] <= 0x7e)
                controlSequence(replies.substr(at + 2, end - at - 2), replies[end], abilities,
                                registerReplies);
            at = end + 1;
        } else if (kind == '_') {  // APC ... ST: a kitty graphics reply "Gi=4242;OK"
            const std::size_t end = replies.find("\x1b\\", at + 2);
            if (end == std::string::npos)
                break;
            const std::string body = replies.substr(at + 2, end - at - 2);
            const bool ok = body.find(";OK") != std::string::npos;
            if (body.rfind(directQuery, 0) == 0)
                abilities.kittyGraphics = abilities.kittyGraphics || ok;
            else if (body.rfind(sharedMemoryQuery, 0) == 0)
                abilities.kittySharedMemory = abilities.kittySharedMemory || ok;
            else if (body.rfind(fileQuery, 0) == 0)
                abilities.kittyFiles = abilities.kittyFiles || ok;
            at = end + 2;
        } else {
            at += 1;
        }
    }
    return abilities;
}
