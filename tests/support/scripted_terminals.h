// Answers that real terminals give to the viewer's questions, for a pseudo-terminal to give:
// each takes a piece of what the program wrote and returns the reply (or "").
#pragma once

#include <string>

std::string kittyTerminal(const std::string& piece);  // kitty 0.26: graphics OK, DA1
std::string sixelTerminal(const std::string& piece);  // xterm -ti vt340, 1024 registers
