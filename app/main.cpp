#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/capture_command.h"
#include "cli/cat_command.h"
#include "cli/ports_command.h"

#ifdef LINOGRAF_WITH_GUI
#include "gui/gui_main.h"
#endif

namespace {

void PrintUsage(std::FILE* to) {
    std::fputs(
        "Usage: linograf [COMMAND] [OPTIONS]\n"
        "Logs the text lines a serial device sends into Excel workbooks.\n"
        "Without a command the main window opens.\n"
        "\n"
        "Commands:\n"
        "  capture      capture without the window (linograf capture --help)\n"
        "  cat FILE     print a sheet of a .xls or .xlsx workbook as tab-separated lines\n"
        "  ports        list the serial ports present (opens none of them)\n"
        "\n"
        "  --ini PATH   the settings file to use\n"
        "  --help       show this help and exit\n"
        "  --version    show the version and exit\n",
        to);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--version") == 0) {
        std::puts("linograf " LINOGRAF_VERSION);
        return 0;
    }
    if (argc > 1 && (std::strcmp(argv[1], "capture") == 0 || std::strcmp(argv[1], "cat") == 0)) {
        const std::vector<std::string> arguments(argv + 2, argv + argc);
        return std::strcmp(argv[1], "capture") == 0 ? linograf::RunCaptureCommand(arguments, stdout, stderr)
                                                    : linograf::RunCatCommand(arguments, stdout, stderr);
    }
    if (argc > 1 && std::strcmp(argv[1], "ports") == 0)
        return linograf::RunPortsCommand(std::vector<std::string>(argv + 2, argv + argc), stdout, stderr);
    if (argc > 1 && std::strcmp(argv[1], "--help") == 0) {
        PrintUsage(stdout);
        return 0;
    }
#ifdef LINOGRAF_WITH_GUI
    // No command (options only): the window.
    if (argc == 1 || argv[1][0] == '-') return linograf::RunMainWindow(argc, argv);
#endif
    PrintUsage(stderr);
    return 2;
}
