#include "temp_dir.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace {

std::string tempBase()
{
    const char* base = std::getenv("TMPDIR");
    return base && *base ? base : "/tmp";
}

}  // namespace

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string makeTempFile(const std::string& what)
{
    std::string pattern = tempBase() + "/viewer-" + what + "-XXXXXX";
    const int fd = mkstemp(&pattern[0]);
    if (fd < 0)
        throw std::runtime_error("cannot make a temporary file");
    close(fd);
    return pattern;
}

TempDir::TempDir()
{
    std::string pattern = tempBase() + "/viewer-test-XXXXXX";
    if (!mkdtemp(&pattern[0]))
        throw std::runtime_error("cannot make a temporary directory");
    path_ = pattern;
}

TempDir::~TempDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

void TempDir::write(const std::string& name, const std::string& bytes) const
{
    std::ofstream out(file(name), std::ios::binary);
    out.write(bytes.data(), std::streamsize(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + file(name));
}

std::string TempDir::read(const std::string& name) const
{
    return readFile(file(name));
}
