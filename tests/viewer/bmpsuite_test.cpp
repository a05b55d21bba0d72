// Every file of the BMP Suite corpus, good, odd or broken, through the real program on a
// pseudo-terminal: it ends, cleanly or with one clear line, and the window shows exactly the
// pixels the file's bytes stand for.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "bitmap_bytes.h"
#include "pty_session.h"
#include "screen_model.h"
#include "temp_dir.h"

namespace {

using namespace std::chrono_literals;

std::vector<std::filesystem::path> corpus()
{
    std::vector<std::filesystem::path> files;
    std::error_code error;
    for (const auto& entry :
         std::filesystem::recursive_directory_iterator(BMPSUITE_DIR, error))
        if (entry.is_regular_file() && entry.path().extension() == ".bmp")
            files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

TEST(BmpSuite, EveryFileEndsCleanlyAndPaintsWhatItHolds)
{
    const std::vector<std::filesystem::path> files = corpus();
    if (files.empty())
        GTEST_SKIP() << "no corpus at " << BMPSUITE_DIR
                     << " (set VIEWER_BMPSUITE_DIR to the bmpsuite folder)";

    const int columns = 100, rows = 40;
    for (const auto& path : files) {
        SCOPED_TRACE(path.string());
        std::ifstream in(path, std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
        TempDir dir;
        dir.write("Painting.bmp", bytes);

        PtySession session(columns, rows);
        session.start(VIEWER_PATH, dir.path(), PtySession::Input::empty);
        ASSERT_TRUE(session.waitForExit(60s)) << "did not end";
        ASSERT_TRUE(WIFEXITED(session.status())) << "ended by signal " << WTERMSIG(session.status());
        EXPECT_EQ(session.standardOutput(), "");

        const std::string errors = session.standardError();
        if (WEXITSTATUS(session.status()) == 0) {
            EXPECT_EQ(errors, "");
        } else {
            EXPECT_EQ(WEXITSTATUS(session.status()), 1);
            EXPECT_EQ(errors.rfind("viewer: ", 0), 0u) << errors;
            EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << errors;
        }

        ScreenModel screen(columns, rows);
        screen.feed(session.output());
        EXPECT_EQ(screen.problems(), std::vector<std::string>{});
        EXPECT_FALSE(screen.insideSequence());
        EXPECT_TRUE(screen.cursorVisible());
        EXPECT_EQ(screen.differences(expectedScreen(WEXITSTATUS(session.status()) == 0
                                                        ? bytes
                                                        : std::string(),
                                                    columns, rows)),
                  "");
    }
}

}  // namespace
