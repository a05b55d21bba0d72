// The sample picture in examples/ is what its generator makes, so both can be trusted.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <fstream>
#include <iterator>

#include "child_process.h"
#include "temp_dir.h"

namespace {

TEST(SamplePicture, IsWhatTheGeneratorMakes)
{
    TempDir dir;
    const Finished run = runToEnd(MAKE_PAINTING_PATH, dir.path());
    ASSERT_TRUE(WIFEXITED(run.status) && WEXITSTATUS(run.status) == 0) << run.errors;
    std::ifstream shipped(SAMPLE_PICTURE_PATH, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(shipped)),
                            std::istreambuf_iterator<char>());
    EXPECT_EQ(dir.read("Painting.bmp"), bytes);

    // 161 pixels a row: 483 bytes and one filler byte.
    ASSERT_EQ(bytes.size(), 54u + 484u * 100u);
    EXPECT_EQ((unsigned char)bytes[18], 161);
    EXPECT_EQ((unsigned char)bytes[22], 100);
}

}  // namespace
