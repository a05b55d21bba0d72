// A terminal's replies as a Windows console delivers them: one key event a character.
#pragma once

#include <string>

// A key event of the console's input, as far as a reply is concerned.
struct KeyPress {
    bool down = true;          // key-up events repeat what the key-down gave: they are skipped
    char16_t character = 0;    // 0: a key without a character (Alt, Shift)
    bool alt = false;          // the Alt modifier was down
    unsigned repeat = 1;
};

// Appends the bytes the key stands for. Replies are ASCII; a console that does not pass VT
// input through (wine's) reads a reply's ESC and the character after it as that character
// with Alt, the way terminals send Alt: the ESC is put back. Other characters become '?',
// which no reply contains.
void appendReplyBytes(std::string& replies, const KeyPress& key);
