#include "cli/capture_command.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <exception>
#include <filesystem>
#include <functional>
#include <memory>

#include "text/cp1251.h"
#include "cli/command_line.h"
#include "cli/capture_port.h"
#include "cli/demo_device.h"
#include "core/capture_tally.h"
#include "core/format_journal.h"
#include "core/ini_file.h"
#include "core/ini_location.h"
#include "core/file_template_setting.h"
#include "text/integer_text.h"
#include "core/line_capture.h"
#include "core/live_log.h"
#include "core/log_version.h"
#include "serial/com_port.h"
#include "serial/gui_thread.h"
#include "serial/port_device_map.h"
#include "serial/port_discovery.h"
#include "workbook/model/tabulon4.h"
#include "text/wide_text.h"

namespace linograf {

namespace {

using SteadyClock = std::chrono::steady_clock;

volatile std::sig_atomic_t g_stop_signal = 0;

void OnStopSignal(int signal_number) {
    g_stop_signal = signal_number;
}

void PrintCaptureUsage(std::FILE* to) {
    std::fputs(
        "Usage: linograf capture [OPTIONS]\n"
        "Captures the lines a serial device sends into the journal and the live workbook log, without\n"
        "the window. The settings file gives the record format, the file name template and the port\n"
        "settings; the options below override them. Stops after --lines or --seconds, or on Ctrl+C\n"
        "(SIGINT) or SIGTERM: every byte already received is cut into lines and every line written\n"
        "before the program ends; then it prints a summary.\n"
        "\n"
        "Where the bytes come from (one of them; default: the port chosen in the settings file):\n"
        "  --device PATH        the serial device to open, e.g. /dev/ttyUSB0\n"
        "  --port N             port COM<N> (1-64) and its device\n"
        "  --stdin              read the byte stream from standard input\n"
        "  --demo               the built-in simulated scale on a pseudo-terminal; without --format its\n"
        "                       own record format is used\n"
        "  --demo-rate N        lines a second the simulated scale sends (default 5)\n"
        "\n"
        "Port settings:\n"
        "  --baud N             bits per second\n"
        "  --data-bits N        5, 6, 7 or 8\n"
        "  --parity P           none, odd, even, mark or space\n"
        "  --stop-bits S        1, 1.5 or 2\n"
        "  --flow F             none, xonxoff or hardware\n"
        "  --no-reconnect       end the capture when the device vanishes (default: wait for the\n"
        "                       same device to come back and reopen it with the same settings)\n"
        "Without port settings in the settings file and on the command line the port opens with\n"
        "9600 bits per second, 8 data bits, no parity, 1 stop bit, no flow control.\n"
        "\n"
        "Log:\n"
        "  --ini PATH           the settings file to use\n"
        "  --format NAME:SIZE,...  the record format: field names and widths in bytes, in order\n"
        "  --file TEMPLATE      the workbook file name template; .xls or .xlsx, with {dd} {mm} {yy}\n"
        "                       {yyyy} {hh} {nn} {ss} for the date and time\n"
        "  --lines N            stop after N lines\n"
        "  --seconds S          stop after S seconds\n"
        "  --help               show this help and exit\n"
        "\n"
        "Exit status: 0 when every line received is in a file, 1 when any is not or anything failed\n"
        "(also when the device vanished and was not back at the end), 2 for a wrong command line.\n",
        to);
}

std::int64_t PositiveInteger(const std::string& option, const std::string& value) {
    const auto n = ParseIntegerText(value);
    if (!n || *n <= 0) throw ECaptureUsage(option + " needs a positive number, not \"" + value + "\"");
    return *n;
}

TPortParity ParityOption(const std::string& value) {
    if (value == "none") return TPortParity::pNone;
    if (value == "odd") return TPortParity::pOdd;
    if (value == "even") return TPortParity::pEven;
    if (value == "mark") return TPortParity::pMark;
    if (value == "space") return TPortParity::pSpace;
    throw ECaptureUsage("--parity is none, odd, even, mark or space, not \"" + value + "\"");
}

TPortFlow FlowOption(const std::string& value) {
    if (value == "none") return TPortFlow::kNone;
    if (value == "xonxoff" || value == "xon/xoff") return TPortFlow::kXonXoff;
    if (value == "hardware" || value == "rtscts") return TPortFlow::kHardware;
    throw ECaptureUsage("--flow is none, xonxoff or hardware, not \"" + value + "\"");
}

// Standard error is a terminal: one status line, rewritten in place.
class TProgress {
  public:
    explicit TProgress(std::FILE* err) : err_(err), live_(::isatty(::fileno(err)) == 1) {}
    void Show(std::int64_t lines, const std::string& file) {
        if (!live_) return;
        std::fprintf(err_, "\r\033[K%lld lines -> %s", static_cast<long long>(lines),
                     file.empty() ? "(no file yet)" : file.c_str());
        std::fflush(err_);
        shown_ = true;
    }
    // A message on a line of its own.
    void Message(const std::string& text) {
        Clear();
        std::fprintf(err_, "linograf: %s\n", text.c_str());
        std::fflush(err_);
    }
    void Clear() {
        if (shown_) std::fputs("\r\033[K", err_);
        shown_ = false;
    }

  private:
    std::FILE* err_;
    bool live_;
    bool shown_ = false;
};

struct TRun {
    TFormatJournal tables;
    workbook::TTabulon4 book;
    std::unique_ptr<TJournalLogColumns> columns;
    std::unique_ptr<TLiveLog> log;
    std::unique_ptr<TLineCapture> capture;
    std::int64_t lines = 0;
    TCaptureTally tally;
};

void LoadFields(TFormatJournal& tables, const std::vector<std::pair<std::string, int>>& fields) {
    for (const auto& [name, size] : fields) {
        tables.cformat.Append();
        tables.cformat.FieldByName("name").SetAsString(Utf8ToCp1251(name));
        tables.cformat.FieldByName("fsize").SetAsInteger(size);
        tables.cformat.Post();
    }
    tables.RebuildJournal();
}

// Takes the deliveries the port threads still have under way, until none has come for a moment
// (the time bytes need from the device to this thread) or a device that keeps sending has had
// its half second.
void DrainDeliveries(serial::PlainGuiThread& gui, const SteadyClock::time_point& last_delivery) {
    constexpr auto kQuiet = std::chrono::milliseconds(50);
    constexpr auto kLongest = std::chrono::milliseconds(500);
    const auto until = SteadyClock::now() + kLongest;
    while (SteadyClock::now() < until) {
        gui.PumpUntil([&] { return SteadyClock::now() - last_delivery >= kQuiet; }, kQuiet);
        if (SteadyClock::now() - last_delivery >= kQuiet) break;
    }
}

}  // namespace

std::vector<std::pair<std::string, int>> ParseFormatOption(std::string_view text) {
    std::vector<std::pair<std::string, int>> fields;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t comma = std::min(text.find(',', start), text.size());
        const std::string_view item = text.substr(start, comma - start);
        const std::size_t colon = item.rfind(':');
        if (colon == std::string_view::npos)
            throw ECaptureUsage("--format: \"" + std::string(item) + "\" is not NAME:SIZE");
        const auto size = ParseIntegerText(item.substr(colon + 1));
        if (!size) throw ECaptureUsage("--format: the size of \"" + std::string(item) + "\" is not a number");
        fields.emplace_back(std::string(item.substr(0, colon)), *size);
        start = comma + 1;
    }
    if (fields.empty()) throw ECaptureUsage("--format needs at least one NAME:SIZE");
    if (fields.size() > static_cast<std::size_t>(TFormatJournal::kMaxFields))
        throw ECaptureUsage("--format: more fields than a worksheet has columns");
    return fields;
}

namespace {

TCaptureOptions ReadCaptureOptions(const std::vector<std::string>& arguments) {
    TCaptureOptions options;
    int sources = 0;
    TCommandLineReader line(arguments);
    while (line.Next()) {
        const std::string name = line.Name();
        if (!line.IsOption()) throw ECaptureUsage("unexpected argument \"" + name + "\"");
        auto value = [&] { return line.Value(); };
        auto flag = [&] { line.NoValue(); };
        if (name == "--help") {
            flag();
            options.help = true;
        } else if (name == "--ini") {
            options.ini = value();
        } else if (name == "--device") {
            options.device = value();
            options.source = TCaptureSource::kDevice;
            ++sources;
        } else if (name == "--port") {
            const std::string v = value();
            const auto n = ParseIntegerText(v);
            if (!n || *n < serial::kFirstPort || *n > serial::kLastPort)
                throw ECaptureUsage("--port needs a port number from 1 to 64, not \"" + v + "\"");
            options.port = *n;
            options.source = TCaptureSource::kPort;
            ++sources;
        } else if (name == "--stdin") {
            flag();
            options.source = TCaptureSource::kStdin;
            ++sources;
        } else if (name == "--demo") {
            flag();
            options.source = TCaptureSource::kDemo;
            ++sources;
        } else if (name == "--demo-rate") {
            const std::string v = value();
            char* end = nullptr;
            const double rate = std::strtod(v.c_str(), &end);
            if (v.empty() || *end != '\0' || !(rate >= 0.1 && rate <= 1000))
                throw ECaptureUsage("--demo-rate needs a number of lines a second from 0.1 to 1000, not \"" +
                                    v + "\"");
            options.demo_rate = rate;
        } else if (name == "--no-reconnect") {
            flag();
            options.reconnect = false;
        } else if (name == "--baud") {
            options.baud = static_cast<std::int32_t>(PositiveInteger(name, value()));
        } else if (name == "--data-bits") {
            const std::string v = value();
            const auto n = ParseIntegerText(v);
            if (!n || *n < 5 || *n > 8) throw ECaptureUsage("--data-bits is 5, 6, 7 or 8, not \"" + v + "\"");
            options.data_bits = *n;
        } else if (name == "--parity") {
            options.parity = ParityOption(value());
        } else if (name == "--stop-bits") {
            const std::string v = value();
            // 1.5 goes to the port as 2, which a UART sends as 1.5 with 5 data bits.
            if (v == "1")
                options.stop_bits = 1;
            else if (v == "1.5" || v == "2")
                options.stop_bits = 2;
            else
                throw ECaptureUsage("--stop-bits is 1, 1.5 or 2, not \"" + v + "\"");
        } else if (name == "--flow") {
            options.flow = FlowOption(value());
        } else if (name == "--format") {
            options.format = value();
            ParseFormatOption(*options.format);
        } else if (name == "--file") {
            options.file = value();
            if (options.file->empty()) throw ECaptureUsage("--file needs a file name template");
        } else if (name == "--lines") {
            options.lines = PositiveInteger(name, value());
        } else if (name == "--seconds") {
            const std::string v = value();
            char* end = nullptr;
            const double s = std::strtod(v.c_str(), &end);
            if (v.empty() || *end != '\0' || !(s > 0) || s > 1e9)
                throw ECaptureUsage("--seconds needs a positive number, not \"" + v + "\"");
            options.seconds = s;
        } else {
            line.Unknown();
        }
    }
    if (sources > 1) throw ECaptureUsage("give only one of --device, --port, --stdin and --demo");
    return options;
}

}  // namespace

TCaptureOptions ParseCaptureOptions(const std::vector<std::string>& arguments) {
    try {
        return ReadCaptureOptions(arguments);
    } catch (const ECommandLineError& error) {
        throw ECaptureUsage(error.what());
    }
}

int RunCaptureCommand(const std::vector<std::string>& arguments, std::FILE* out, std::FILE* err) {
    TCaptureOptions options;
    try {
        options = ParseCaptureOptions(arguments);
    } catch (const ECaptureUsage& error) {
        std::fprintf(err, "linograf capture: %s\n", error.what());
        std::fputs("Try \"linograf capture --help\".\n", err);
        return 2;
    }
    if (options.help) {
        PrintCaptureUsage(out);
        return 0;
    }

    TProgress progress(err);
    TRun run;
    TIniFile ini(ResolveIniPath(options.ini));

    // The record format: --format, else the simulated scale's own, else the settings file's.
    if (options.format) {
        LoadFields(run.tables, ParseFormatOption(*options.format));
    } else if (options.source == TCaptureSource::kDemo) {
        LoadFields(run.tables, DemoRecordFormat());
    } else {
        run.tables.LoadFormat(ini);
    }
    if (run.tables.JournalColumns().empty()) {
        std::fputs(
            "linograf capture: the record format has no fields; give --format NAME:SIZE,... or set the "
            "format in the window\n",
            err);
        return 2;
    }
    const std::string file_template =
        options.file ? *options.file : ReadFileTemplate(ini);
    if (file_template.empty()) {
        std::fputs("linograf capture: no file name template; give --file TEMPLATE or set it in the window\n",
                   err);
        return 2;
    }

    run.columns = std::make_unique<TJournalLogColumns>(run.tables);
    run.log = std::make_unique<TLiveLog>(run.book, *run.columns);
    run.capture = std::make_unique<TLineCapture>(run.tables.cformat_, run.tables.cdata);
    run.log->FileTemplate = [&file_template] { return file_template; };
    run.log->OnNotice = [&](const std::string& text) { progress.Message(text); };
    // Writes run on the log's own thread; what they report is shown from here.
    run.log->OnError = [&](const ELiveLogError& error) {
        ++run.tally.errors;
        run.tally.write_error = error.what();
        progress.Message(error.what());
    };
    run.tables.cdata.AfterPost = [&](TMemTable& journal) {
        ++run.lines;
        run.log->cdataAfterPost(journal);
    };
    run.log->CaptureStarting(LogVersionForTemplate(file_template));

    const bool limited = options.lines.has_value();
    const std::int64_t line_limit = options.lines.value_or(0);
    // Every byte taken is cut into lines, also past the line limit: what was received is logged.
    auto take_byte = [&](char c) {
        try {
            run.capture->TakeByte(c);
        } catch (const std::exception& error) {
            ++run.tally.errors;
            progress.Message(error.what());
        }
        ForgetPostedRows(run.tables.cdata);
    };

    g_stop_signal = 0;
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    struct sigaction old_int {
    }, old_term{};
    ::sigaction(SIGINT, &action, &old_int);
    ::sigaction(SIGTERM, &action, &old_term);

    const auto started = SteadyClock::now();
    auto finished = [&] {
        if (g_stop_signal != 0) return true;
        if (limited && run.lines >= line_limit) return true;
        if (options.seconds &&
            std::chrono::duration<double>(SteadyClock::now() - started).count() >= *options.seconds)
            return true;
        return false;
    };
    auto current_file = [&] {
        const std::vector<std::string> files = run.log->FilesWritten();
        return files.empty() ? std::string() : files.back();
    };

    int status = 0;
    std::vector<std::string> summary_notes;
    try {
        if (options.source == TCaptureSource::kStdin) {
            run.capture->PortOpened();
            char buffer[4096];
            bool end_of_input = false;
            while (!end_of_input && !finished()) {
                pollfd p{STDIN_FILENO, POLLIN, 0};
                const int ready = ::poll(&p, 1, 200);
                if (ready > 0) {
                    const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
                    if (n <= 0 && !(n < 0 && errno == EINTR)) end_of_input = true;
                    for (ssize_t i = 0; i < n; ++i) take_byte(buffer[i]);
                }
                run.log->DeliverEvents();
                progress.Show(run.lines, current_file());
            }
        } else {
            std::unique_ptr<TDemoDevice> demo;
            // The component's own defaults (9600 8N1, no flow control) unless the operator
            // confirmed port settings in the window; the simulated scale has line settings of its
            // own, and the settings file describes the real device.
            TPortSettings settings;
            if (options.source != TCaptureSource::kDemo) {
                if (const auto stored = StoredLineSettings(ini)) settings = *stored;
            }
            if (options.source == TCaptureSource::kDemo) {
                demo = std::make_unique<TDemoDevice>();
                settings.device = demo->DevicePath();
            } else if (options.source == TCaptureSource::kDevice) {
                // A node that has a by-id link is reopened through it after an unplug: the link
                // follows the adapter to whatever number the kernel gives it next.
                settings.device = serial::StablePathOf(options.device);
            } else if (options.source == TCaptureSource::kPort) {
                settings.com_number = options.port;
            } else {
                settings.device = StoredCaptureDevice(ini);
                if (settings.device.empty())
                    throw ECaptureUsage(
                        "no port is chosen in the settings file (or it is not present); give --device PATH, "
                        "--port N, --stdin or --demo (\"linograf ports\" lists the ports)");
            }
            if (options.baud) settings.baud = *options.baud;
            if (options.data_bits) settings.data_bits = *options.data_bits;
            if (options.parity) settings.parity = *options.parity;
            if (options.stop_bits) settings.stop_bits = *options.stop_bits;
            if (options.flow) settings.flow = *options.flow;

            serial::PlainGuiThread gui;
            serial::TNlkComPort port(gui);
            serial::LoadNlkComPort1(port);
            port.SetPromptForPort(false);
            ApplyPortSettings(settings, port);
            port.SetOnPortOpen([&](serial::TNlkComPort&) { run.capture->PortOpened(); });
            bool closing = false;
            auto last_delivery = SteadyClock::now();
            port.SetOnTriggerAvail([&](serial::TNlkComPort& cp, uint16_t count) {
                // A closing port hands out no bytes any more (GetChar gives 0): they are counted,
                // not taken as NULs into the line.
                if (closing) {
                    run.tally.bytes_not_taken += count;
                    return;
                }
                last_delivery = SteadyClock::now();
                for (uint16_t i = 0; i < count; ++i) take_byte(static_cast<char>(cp.GetChar()));
            });
            TCaptureReconnect reconnect(port, options.reconnect,
                                        options.source == TCaptureSource::kDevice ? options.device : "",
                                        [&] { return run.capture->BufferBytes(); },
                                        [&](const std::string& text) { progress.Message(text); });
            port.SetOpen(true);
            if (demo) demo->Start(options.demo_rate);

            std::size_t errors_shown = 0;
            auto show_port_errors = [&] {
                const std::vector<std::string> shown = gui.shown_errors();
                for (; errors_shown < shown.size(); ++errors_shown) {
                    ++run.tally.errors;
                    progress.Message(shown[errors_shown]);
                }
            };
            auto done = [&] { return finished() || reconnect.GaveUp(); };
            while (!done()) {
                gui.PumpUntil(done, std::chrono::milliseconds(200));
                show_port_errors();
                run.log->DeliverEvents();
                reconnect.Poll();
                progress.Show(run.lines, current_file());
            }
            if (demo) demo->Stop();
            // Bytes the port threads have already read are still on their way to this thread:
            // they are taken until the deliveries pause, so a stop loses none of them.
            DrainDeliveries(gui, last_delivery);
            closing = true;
            port.SetOpen(false);
            show_port_errors();
            // A device that vanished and is not back is a capture that did not run to its end.
            if (reconnect.Disconnected()) ++run.tally.errors;
            summary_notes = reconnect.SummaryLines();
        }
    } catch (const ECaptureUsage& error) {
        progress.Message(error.what());
        status = 2;
    } catch (const std::exception& error) {
        ++run.tally.errors;
        progress.Message(error.what());
    }

    // Every posted row is written before the program ends; rows a failed write left in memory get
    // a last chance. The stop signals stay caught meanwhile, so a second Ctrl+C does not cut the
    // last write short.
    try {
        run.log->Flush();
    } catch (const std::exception& error) {
        ++run.tally.errors;
        run.tally.write_error = error.what();
        progress.Message(error.what());
    }
    ::sigaction(SIGINT, &old_int, nullptr);
    ::sigaction(SIGTERM, &old_term, nullptr);
    progress.Clear();
    if (status == 2) return status;

    run.tally.lines_received = run.log->RowsPosted();
    run.tally.lines_written = run.log->RowsWritten();
    run.tally.unfinished_bytes = static_cast<std::int64_t>(run.capture->Line().size());
    run.tally.files = run.log->FilesWritten();
    if (const std::string loss = CaptureLossMessage(run.tally); !loss.empty()) progress.Message(loss);
    std::fprintf(out, "linograf capture: %s\n", CaptureSummaryLine(run.tally).c_str());
    for (const std::string& file : run.tally.files) std::fprintf(out, "  %s\n", file.c_str());
    for (const std::string& note : summary_notes) std::fprintf(out, "%s\n", note.c_str());
    std::fflush(out);
    return CaptureExitStatus(run.tally);
}

}  // namespace linograf
