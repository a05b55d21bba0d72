#include "console/terminal_windows/key_replies.h"

void appendReplyBytes(std::string& replies, const KeyPress& key)
{
    if (!key.down || key.character == 0)
        return;
    const char byte = key.character < 0x80 ? char(key.character) : '?';
    for (unsigned i = 0; i < key.repeat; ++i) {
        if (key.alt && byte != '\x1b')
            replies += '\x1b';
        replies += byte;
    }
}
