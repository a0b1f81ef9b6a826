#include "tests/support/temp_dir.h"

#include <sys/stat.h>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace linograf::test {

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "linograf-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    // A test may have made parts read-only to provoke write errors; give them back first.
    for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        chmod(it->path().c_str(), 0700);
    }
    chmod(path_.c_str(), 0700);
    std::filesystem::remove_all(path_, ec);
}

std::string ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot open " + path);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

}  // namespace linograf::test
