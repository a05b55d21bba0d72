#include "scripted_terminals.h"

std::string kittyTerminal(const std::string& piece)
{
    std::string reply;
    if (piece.find("\x1b_Gi=4242,") != std::string::npos)
        reply += "\x1b_Gi=4242;OK\x1b\\";
    if (piece.find("\x1b[c") != std::string::npos)
        reply += "\x1b[?62;c";
    return reply;
}

std::string sixelTerminal(const std::string& piece)
{
    std::string reply;
    if (piece.find("\x1b[?1;1;0S") != std::string::npos)
        reply += "\x1b[?1;0;1024S";
    if (piece.find("\x1b[?2;1;0S") != std::string::npos)
        reply += "\x1b[?2;0;1000;1000S";
    if (piece.find("\x1b[c") != std::string::npos)
        reply += "\x1b[?63;1;2;4;6;9;15;16;17;18;21;22;28c";
    return reply;
}
