#pragma once
// A kernel pseudo-terminal for serial tests: the port under test opens the slave by its path,
// the test plays the device on the master.
#include <string>
#include <string_view>

namespace linograf::serial::test {

class PtyPair {
  public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    const std::string& slave_path() const { return slave_path_; }
    int master() const { return master_; }
    // The test's own descriptor of the slave (kept open for the pair's lifetime).
    int slave() const { return slave_; }
    // Writes all of `bytes` to the master (blocking until the line discipline takes them).
    void Write(std::string_view bytes);
    // Closes the master: the slave side hangs up.
    void CloseMaster();

  private:
    int master_ = -1;
    int slave_ = -1;  // kept open so the terminal does not hang up between opens of the port
    std::string slave_path_;
};

}  // namespace linograf::serial::test
