// A fresh directory for one test, removed with its files afterwards.
#pragma once

#include <string>
#include <vector>

namespace mf::test {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    // path() joined with name by the platform's separator.
    std::string file(const std::string& name) const;
    // Names of the entries in the directory.
    std::vector<std::string> entries() const;

private:
    std::string path_;
};

std::string read_file(const std::string& path);
// A text file the library wrote: its lines must end as text files on this system
// do (CR LF on Windows); they come back ending in '\n'.
std::string read_text_file(const std::string& path);
void write_file(const std::string& path, const std::string& bytes);

}  // namespace mf::test
