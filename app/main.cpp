#include <cstdio>
#include <cstring>

namespace {

void PrintUsage(std::FILE* to) {
    std::fputs(
        "Usage: linograf [COMMAND] [OPTIONS]\n"
        "Logs the text lines a serial device sends into Excel workbooks.\n"
        "\n"
        "  --help       show this help and exit\n"
        "  --version    show the version and exit\n",
        to);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--version") == 0) {
        std::puts("linograf 0.1.0");
        return 0;
    }
    if (argc > 1 && std::strcmp(argv[1], "--help") == 0) {
        PrintUsage(stdout);
        return 0;
    }
    PrintUsage(stderr);
    return 2;
}
