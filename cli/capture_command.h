#pragma once
// `linograf capture`: capture without the window. The settings file gives the record format, the
// file name template and the port settings, as the window uses them; options override each. The
// bytes come from a serial port through the port component (OnTriggerAvail and GetChar, as in the
// window), from standard input, or from the built-in simulated scale on a pseudo-terminal.
#include <cstdint>
#include <cstdio>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/port_settings.h"

namespace linograf {

enum class TCaptureSource { kSettings, kDevice, kPort, kStdin, kDemo };

struct TCaptureOptions {
    bool help = false;
    std::optional<std::string> ini;
    TCaptureSource source = TCaptureSource::kSettings;
    std::string device;  // with kDevice
    int port = 0;        // with kPort
    std::optional<std::int32_t> baud;
    std::optional<int> data_bits;
    std::optional<TPortParity> parity;
    std::optional<int> stop_bits;
    std::optional<TPortFlow> flow;
    std::optional<std::string> format;  // "NAME:SIZE,..." as given (UTF-8)
    std::optional<std::string> file;    // the file name template (UTF-8)
    std::optional<std::int64_t> lines;
    std::optional<double> seconds;
    double demo_rate = 5;  // lines a second from the simulated scale
    // Reopen a device that vanished once it is back (--no-reconnect: end the capture instead).
    bool reconnect = true;
    // Each row starts with the time its line arrived (--timestamp; else the settings file's key,
    // core/capture_settings.h).
    std::optional<bool> timestamp;
    // The device's text encoding, any name iconv knows (--encoding; else the settings file's key,
    // else Windows-1251).
    std::optional<std::string> encoding;
    // The JSON status file kept up to date for monitoring tools.
    std::optional<std::string> status_file;
    // How often the health line goes to standard error when it is not a terminal.
    double health_seconds = 60;
};

// A command line the command cannot run with; the message says what is wrong.
class ECaptureUsage : public std::invalid_argument {
  public:
    using std::invalid_argument::invalid_argument;
};

// The options after "capture". Raises ECaptureUsage.
TCaptureOptions ParseCaptureOptions(const std::vector<std::string>& arguments);

// "NAME:SIZE,NAME:SIZE,...": the fields in order, names as given (UTF-8). The name is everything
// before the item's last ":", so a name may hold ":" itself. Raises ECaptureUsage.
std::vector<std::pair<std::string, int>> ParseFormatOption(std::string_view text);

// Runs the command; returns the exit status: 0 when every line was captured and written, 1 when
// anything failed (the summary counts the errors), 2 for a wrong command line.
int RunCaptureCommand(const std::vector<std::string>& arguments, std::FILE* out, std::FILE* err);

}  // namespace linograf
