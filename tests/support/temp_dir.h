// A fresh directory for one test, removed with everything in it when the test ends.
#pragma once

#include <string>

// The whole content of a file ("" if it cannot be read).
std::string readFile(const std::string& path);

// A new empty file in the temporary directory, named after `what`; the caller removes it.
std::string makeTempFile(const std::string& what);

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

    void write(const std::string& name, const std::string& bytes) const;
    std::string read(const std::string& name) const;

private:
    std::string path_;
};
