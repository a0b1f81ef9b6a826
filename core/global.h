#pragma once
// The settings holder: made first at start-up, before any window, and freed at process end. It
// owns the settings file object; everything that reads or writes settings reaches it here.
#include <memory>
#include <string>

#include "core/ini_file.h"

namespace linograf {

class TGlobal {
  public:
    // Computes nothing and touches no file: the caller passes the path (ResolveIniPath), and the
    // file comes into being with the first write. Only one holder may exist at a time; a second
    // throws std::logic_error.
    explicit TGlobal(std::string ini_path);
    ~TGlobal();
    TGlobal(const TGlobal&) = delete;
    TGlobal& operator=(const TGlobal&) = delete;

    const std::string& IniPath() const { return ini_path_; }
    TIniFile& IniFile() { return *ini_file_; }

    // The holder of this process, or null before it is made and after it is freed.
    static TGlobal* Instance();

  private:
    std::string ini_path_;
    std::unique_ptr<TIniFile> ini_file_;
};

}  // namespace linograf
