// The settings file as any bytes: reads must not crash or hang, and a write followed by a read
// must give back what was written without disturbing another section.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "core/ini_file.h"

namespace {

const std::string& FilePath() {
    // tmpfs when there is one: every write is flushed to disk, which on a real disk would make
    // this fuzzer crawl.
    static const std::string folder = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    static const std::string path = folder + "/fuzz_ini_file." + std::to_string(::getpid()) + ".ini";
    return path;
}

void Check(bool ok) {
    if (!ok) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    {
        std::FILE* f = std::fopen(FilePath().c_str(), "wb");
        if (!f) return 0;
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    linograf::TIniFile ini(FilePath());
    const std::string app_format = ini.ReadString("app", "format", "<none>");
    Check(app_format.size() <= linograf::TIniFile::kMaxValueLength || app_format == "<none>");
    ini.ReadInteger("com", "speed", 11);

    ini.WriteString("format", "name1", "\xC2\xE5\xF1 1");
    Check(ini.ReadString("format", "NAME1", "") == "\xC2\xE5\xF1 1");
    ini.WriteInteger("Format", "size1", -5);
    Check(ini.ReadInteger("format", "size1", 0) == -5);
    Check(ini.ReadString("app", "format", "<none>") == app_format);

    ini.EraseSection("format");
    Check(ini.ReadString("format", "name1", "<none>") == "<none>");
    Check(ini.ReadString("app", "format", "<none>") == app_format);
    ::unlink(FilePath().c_str());
    return 0;
}
