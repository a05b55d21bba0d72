// The byte buffer's promise to a writer on another thread: bytes once appended stay where they
// were, however the buffer grows, until it is cleared. (Under AddressSanitizer a block given
// back too early is a use after free here.)
#include "console/bytes/byte_buffer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

TEST(ByteBuffer, BytesStayWhereTheyWereWhileItGrows)
{
    ByteBuffer buffer;
    std::vector<std::pair<const char*, std::string>> seen;
    for (int step = 0; step < 12; ++step) {
        const std::string bytes(std::size_t(1000) << step, char('a' + step));
        buffer.append(bytes);
        seen.emplace_back(buffer.data() + buffer.size() - bytes.size(), bytes);
        for (const auto& [where, what] : seen)
            ASSERT_EQ(std::string(where, what.size()), what) << "step " << step;
    }
    const std::string all = buffer.str();
    buffer.clear();
    buffer.append("after", 5);
    EXPECT_EQ(buffer.str(), "after");
    EXPECT_EQ(all.size(), std::size_t(1000) * ((1 << 12) - 1));
}
