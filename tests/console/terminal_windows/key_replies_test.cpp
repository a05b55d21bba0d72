// A terminal's replies as a Windows console delivers them, key by key: the same answers
// whether the console passes their ESC on (Windows) or turns it into Alt (wine).
#include "console/terminal_windows/key_replies.h"

#include <gtest/gtest.h>

#include <vector>

#include "console/terminal/terminal_probe.h"

namespace {

// The key events a console makes of `text`: each character a key down and up, an ESC either
// as its own key or, where `escAsAlt`, as Alt held for the character after it.
std::vector<KeyPress> keysOf(const std::string& text, bool escAsAlt)
{
    std::vector<KeyPress> keys;
    bool alt = false;
    for (const char c : text) {
        if (c == '\x1b' && escAsAlt) {
            alt = true;
            keys.push_back({true, 0, true, 1});  // the Alt key itself
            continue;
        }
        keys.push_back({true, char16_t(c), alt, 1});
        keys.push_back({false, char16_t(c), alt, 1});
        alt = false;
    }
    return keys;
}

std::string replyOf(const std::vector<KeyPress>& keys)
{
    std::string replies;
    for (const KeyPress& key : keys)
        appendReplyBytes(replies, key);
    return replies;
}

TEST(KeyReplies, ReadTheSameWithTheirEscOrWithAlt)
{
    const struct {
        const char* terminal;
        std::string replies;
        bool sixel;
        int cellWidth;
    } cases[] = {
        {"Windows Terminal",
         "\x1b[4;1200;4000t\x1b[6;20;10t\x1b[?61;4;6;7;14;21;22;23;24;28;32;42c", true, 10},
        {"the inbox pseudo-console", "\x1b[?1;0c", false, 0},
    };
    for (const auto& c : cases) {
        for (const bool escAsAlt : {false, true}) {
            const std::string read = replyOf(keysOf(c.replies, escAsAlt));
            EXPECT_EQ(read, c.replies) << c.terminal << (escAsAlt ? ", ESC as Alt" : "");
            const TerminalAbilities abilities = parseReplies(read);
            EXPECT_TRUE(abilities.answered) << c.terminal;
            EXPECT_EQ(abilities.sixel, c.sixel) << c.terminal;
            EXPECT_EQ(abilities.cellWidth, c.cellWidth) << c.terminal;
        }
    }
}

TEST(KeyReplies, KeysWithoutACharacterOrReleasedAddNothingAndRepeatsCount)
{
    EXPECT_EQ(replyOf({{true, 0, false, 1}, {false, u'a', false, 1}}), "");
    EXPECT_EQ(replyOf({{true, u'x', false, 3}}), "xxx");
    EXPECT_EQ(replyOf({{true, u'\x1b', true, 1}}), "\x1b");  // Alt with ESC itself: one ESC
    EXPECT_EQ(replyOf({{true, u'\u00e9', false, 1}}), "?");  // no reply holds it
}

}  // namespace
