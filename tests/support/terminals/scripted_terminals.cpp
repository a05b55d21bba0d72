#include "scripted_terminals.h"

#include <dirent.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <utility>

namespace {

std::string operatingStatus(const std::string& piece)
{
    return piece.find("\x1b[5n") != std::string::npos ? "\x1b[0n" : "";
}

}  // namespace

std::string kittyTerminal(const std::string& piece)
{
    std::string reply;
    if (piece.find("\x1b_Gi=4242,") != std::string::npos)
        reply += "\x1b_Gi=4242;OK\x1b\\";
    for (const char* local : {"4243", "4244"})
        if (piece.find(std::string("\x1b_Gi=") + local + ",") != std::string::npos)
            reply += std::string("\x1b_Gi=") + local + ";EBADF:Failed to open file\x1b\\";
    if (piece.find("\x1b[c") != std::string::npos)
        reply += "\x1b[?62;c";
    return reply + operatingStatus(piece);
}

std::string sixelTerminal(const std::string& piece)
{
    return sixelTerminalWith(1024)(piece);
}

PtySession::Responder sixelTerminalWith(int registers, int maximum, bool refuses,
                                        std::shared_ptr<int> registersNow)
{
    if (!registersNow)
        registersNow = std::make_shared<int>();
    *registersNow = registers;
    maximum = std::max(maximum, registers);
    return [registersNow, maximum, refuses](const std::string& piece) {
        // The replies in the order of the questions: XTSMGRAPHICS, then DA1, then DSR 5.
        std::string reply;
        const std::string number = "\x1b[?1;0;";
        for (std::size_t at = piece.find("\x1b[?"); at != std::string::npos;
             at = piece.find("\x1b[?", at + 1)) {
            const std::string rest = piece.substr(at + 3, 20);
            if (rest.rfind("1;1;0S", 0) == 0) {
                reply += number + std::to_string(*registersNow) + "S";
            } else if (rest.rfind("1;4;0S", 0) == 0) {
                reply += number + std::to_string(maximum) + "S";
            } else if (rest.rfind("1;3;", 0) == 0) {
                const int wanted = std::atoi(rest.c_str() + 4);
                if (refuses || wanted < 1 || wanted > maximum) {
                    reply += "\x1b[?1;3S";
                } else {
                    *registersNow = wanted;
                    reply += number + std::to_string(wanted) + "S";
                }
            } else if (rest.rfind("2;1;0S", 0) == 0) {
                reply += "\x1b[?2;0;1000;1000S";
            }
        }
        if (piece.find("\x1b[c") != std::string::npos)
            reply += "\x1b[?63;1;2;4;6;9;15;16;17;18;21;22;28c";
        return reply + operatingStatus(piece);
    };
}

PtySession::Responder repeatingFirstFence(PtySession::Responder terminal)
{
    auto firstFence = std::make_shared<std::string>();
    auto asked = std::make_shared<int>(0);
    return [terminal, firstFence, asked](const std::string& piece) {
        std::string reply = terminal(piece);
        if (piece.find("\x1b[c") == std::string::npos && piece.find("\x1b[5n") == std::string::npos)
            return reply;
        if (++*asked == 1) {
            const std::size_t fence = reply.rfind("\x1b[?");
            if (fence != std::string::npos && reply.back() == 'c')
                *firstFence = reply.substr(fence);
            return reply;
        }
        return *asked == 2 ? *firstFence + std::string(1, '\0') + reply : reply;
    };
}

std::string rxvtTerminal(const std::string& piece)
{
    std::string reply;
    if (piece.find("\x1b[?25$p") != std::string::npos)
        reply += "\x1b[?25;1$y";
    if (piece.find("\x1b[>c") != std::string::npos)
        reply += "\x1b[>85;95;0c";
    if (piece.find("\x1b[c") != std::string::npos)
        reply += "\x1b[?1;2c";
    return reply + operatingStatus(piece);
}

std::string hiddenCursorTerminal(const std::string& piece)
{
    return (piece.find("\x1b[?25$p") != std::string::npos ? "\x1b[?25;2$y" : "") +
           PtySession::plainTerminal(piece);
}

struct LocalKittyTerminal::State {
    Reads reads;
    std::string unfinished;  // a command not yet complete
    std::map<std::string, std::string> taken;

    // Reads the object as kitty does, then removes it: always a shared memory object, a file
    // only where its path says it is a temporary one.
    bool take(char medium, const std::string& name)
    {
        std::string bytes;
        const bool read = ImageScreen::readFromFileSystem(medium, name, bytes);
        if (medium == 's')
            shm_unlink(name.c_str());
        else if (name.find("tty-graphics-protocol") != std::string::npos)
            unlink(name.c_str());
        if (read)
            taken[name] = std::move(bytes);
        return read;
    }

    std::string answer(const std::string& piece)
    {
        std::string reply;
        unfinished += piece;
        std::size_t at;
        while ((at = unfinished.find("\x1b_G")) != std::string::npos) {
            const std::size_t end = unfinished.find("\x1b\\", at);
            if (end == std::string::npos)
                break;
            const std::string body = unfinished.substr(at + 3, end - at - 3);
            unfinished.erase(0, end + 2);
            const std::size_t semicolon = body.find(';');
            const std::string control = body.substr(0, semicolon);
            const auto keys = kittyKeys(control);
            auto key = [&](const char* name) {
                const auto found = keys.find(name);
                return found == keys.end() ? std::string() : found->second;
            };
            const std::string medium = key("t"), id = key("i");
            const bool query = key("a") == "q";
            if (medium != "s" && medium != "t") {
                if (query)
                    reply += "\x1b_Gi=" + id + ";OK\x1b\\";
                continue;
            }
            if ((!query && reads == Reads::queriesOnly) ||
                (medium == "s" && reads == Reads::filesOnly)) {
                if (query)
                    reply += "\x1b_Gi=" + id + ";EBADF:Failed to open file\x1b\\";
                continue;
            }
            std::string name;
            const bool read = decodeBase64(body.substr(semicolon + 1), name) &&
                              take(medium[0], name);
            if (query)
                reply += "\x1b_Gi=" + id + (read ? ";OK" : ";ENOENT:no such object") + "\x1b\\";
        }
        // Keep only what may begin a command still to come.
        const std::size_t start = unfinished.find("\x1b_G");
        const std::size_t lastEscape = unfinished.rfind('\x1b');
        unfinished.erase(0, start != std::string::npos       ? start
                            : lastEscape != std::string::npos ? lastEscape
                                                              : unfinished.size());
        if (piece.find("\x1b[c") != std::string::npos)
            reply += "\x1b[?62;c";
        return reply + operatingStatus(piece);
    }
};

LocalKittyTerminal::LocalKittyTerminal(Reads reads) : state_(std::make_shared<State>())
{
    state_->reads = reads;
}

PtySession::Responder LocalKittyTerminal::responder()
{
    std::shared_ptr<State> state = state_;
    return [state](const std::string& piece) { return state->answer(piece); };
}

ImageScreen::ObjectReader LocalKittyTerminal::reader() const
{
    std::shared_ptr<State> state = state_;
    return [state](char, const std::string& name, std::string& bytes) {
        const auto found = state->taken.find(name);
        if (found == state->taken.end())
            return false;
        bytes = found->second;
        return true;
    };
}

int LocalKittyTerminal::objectsTaken() const
{
    return int(state_->taken.size());
}

std::vector<std::string> objectsLeftBy(pid_t pid)
{
    std::vector<std::string> left;
    const std::string mark = "viewer-" + std::to_string(pid) + "-";
    for (const char* directory : {"/dev/shm", "/tmp"})
        if (DIR* listing = opendir(directory)) {
            while (const dirent* entry = readdir(listing))
                if (std::string(entry->d_name).find(mark) != std::string::npos)
                    left.push_back(std::string(directory) + "/" + entry->d_name);
            closedir(listing);
        }
    return left;
}
