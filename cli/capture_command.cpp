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
#include <limits>
#include <memory>
#include <optional>

#include "cli/capture_port.h"
#include "cli/capture_status.h"
#include "cli/command_line.h"
#include "cli/demo_device.h"
#include "core/capture_settings.h"
#include "core/capture_tally.h"
#include "core/file_template_setting.h"
#include "core/format_journal.h"
#include "core/ini_file.h"
#include "core/ini_location.h"
#include "core/line_capture.h"
#include "core/live_log.h"
#include "core/log_version.h"
#include "serial/com_port.h"
#include "serial/gui_thread.h"
#include "serial/port_device_map.h"
#include "serial/port_discovery.h"
#include "text/cp1251.h"
#include "text/device_text.h"
#include "text/integer_text.h"
#include "text/wide_text.h"
#include "workbook/model/tabulon4.h"

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
        "  --timestamp          each row starts with the time its line arrived (date and time with\n"
        "                       milliseconds, from this computer's clock)\n"
        "  --encoding NAME      the device's text encoding, any name \"iconv -l\" lists (default\n"
        "                       Windows-1251); field sizes still count bytes\n"
        "  --status-file PATH   keep a JSON status (state, device, file, counts, last error) in PATH,\n"
        "                       replaced whole at most once a second\n"
        "  --health-seconds S   when standard error is not a terminal, a health line every S seconds\n"
        "                       (default 60)\n"
        "  --lines N            stop after N lines\n"
        "  --seconds S          stop after S seconds\n"
        "  --help               show this help and exit\n"
        "\n"
        "Exit status: 0 when every line received is in a file, 1 when any is not or anything failed\n"
        "(also when the device vanished and was not back at the end), 2 for a wrong command line.\n",
        to);
}

// The whole of `text` as a decimal number within [low, high]; nothing when it is not one.
std::optional<double> NumberInRange(const std::string& text, double low, double high) {
    char* end = nullptr;
    const double n = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !(n >= low && n <= high)) return std::nullopt;
    return n;
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
            const auto rate = NumberInRange(v, 0.1, 1000);
            if (!rate)
                throw ECaptureUsage("--demo-rate needs a number of lines a second from 0.1 to 1000, not \"" +
                                    v + "\"");
            options.demo_rate = *rate;
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
        } else if (name == "--timestamp") {
            flag();
            options.timestamp = true;
        } else if (name == "--encoding") {
            options.encoding = value();
            if (!options.encoding->empty() && !IsWindows1251Name(*options.encoding)) {
                try {
                    TDeviceTextDecoder check(*options.encoding);
                } catch (const EUnknownEncoding& error) {
                    throw ECaptureUsage(std::string("--encoding: ") + error.what());
                }
            }
        } else if (name == "--status-file") {
            options.status_file = value();
            if (options.status_file->empty()) throw ECaptureUsage("--status-file needs a file name");
        } else if (name == "--health-seconds") {
            const std::string v = value();
            const auto s = NumberInRange(v, 1, 1e6);
            if (!s)
                throw ECaptureUsage("--health-seconds needs a number of seconds from 1, not \"" + v + "\"");
            options.health_seconds = *s;
        } else if (name == "--lines") {
            options.lines = PositiveInteger(name, value());
        } else if (name == "--seconds") {
            const std::string v = value();
            const auto s = NumberInRange(v, std::numeric_limits<double>::denorm_min(), 1e9);
            if (!s) throw ECaptureUsage("--seconds needs a positive number, not \"" + v + "\"");
            options.seconds = *s;
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

namespace {

// One capture from its settings to its summary, in the steps RunCaptureCommand takes.
class TCaptureSession {
  public:
    TCaptureSession(const TCaptureOptions& options, std::FILE* out, std::FILE* err)
        : options_(options),
          out_(out),
          progress_(err),
          health_(err, std::chrono::duration_cast<SteadyClock::duration>(
                           std::chrono::duration<double>(options.health_seconds))),
          ini_(ResolveIniPath(options.ini)) {}

    // The record format, the file name template and the device's text; 0 when the capture can
    // start, else the exit status (a message has been printed).
    int Prepare(std::FILE* err);
    void WireLog();
    // Takes bytes until the capture is finished; returns 2 for a usage error found on the way.
    int Capture();
    // Writes what is left and prints the summary; returns the exit status.
    int Finish(int status);

  private:
    bool Finished() const;
    std::string CurrentFile() const;
    TCaptureStatus Status() const;
    // From the capture's loop: events of the writer, the live line, the status file, health.
    void Tick();
    void TakeByte(char c);
    void CaptureStdin();
    void CapturePort();
    TPortSettings PortSettingsFor(const TDemoDevice* demo) const;
    void InstallSignals();
    void RestoreSignals();

    const TCaptureOptions& options_;
    std::FILE* out_;
    TProgress progress_;
    THealthLog health_;
    TIniFile ini_;
    TRun run_;
    std::string file_template_;
    std::unique_ptr<TDeviceTextDecoder> decoder_;
    std::unique_ptr<TCaptureStatusFile> status_file_;
    std::string device_label_;
    std::string state_ = "capturing";
    std::string last_error_;
    std::vector<std::string> summary_notes_;
    SteadyClock::time_point started_;
    struct sigaction old_int_ {};
    struct sigaction old_term_ {};
};

int TCaptureSession::Prepare(std::FILE* err) {
    // The record format: --format, else the simulated scale's own, else the settings file's.
    if (options_.format) {
        LoadFields(run_.tables, ParseFormatOption(*options_.format));
    } else if (options_.source == TCaptureSource::kDemo) {
        LoadFields(run_.tables, DemoRecordFormat());
    } else {
        run_.tables.LoadFormat(ini_);
    }
    if (run_.tables.JournalColumns().empty()) {
        std::fputs(
            "linograf capture: the record format has no fields; give --format NAME:SIZE,... or set the "
            "format in the window\n",
            err);
        return 2;
    }
    file_template_ = options_.file ? *options_.file : ReadFileTemplate(ini_);
    if (file_template_.empty()) {
        std::fputs("linograf capture: no file name template; give --file TEMPLATE or set it in the window\n",
                   err);
        return 2;
    }
    const std::string encoding = options_.encoding ? *options_.encoding : StoredEncoding(ini_);
    if (!encoding.empty() && !IsWindows1251Name(encoding)) {
        try {
            decoder_ = std::make_unique<TDeviceTextDecoder>(encoding);
        } catch (const EUnknownEncoding& error) {
            std::fprintf(err, "linograf capture: the settings file's %s: %s\n", kEncodingKey, error.what());
            return 2;
        }
    }
    if (options_.status_file) status_file_ = std::make_unique<TCaptureStatusFile>(*options_.status_file);
    return 0;
}

void TCaptureSession::WireLog() {
    run_.columns = std::make_unique<TJournalLogColumns>(run_.tables);
    run_.log = std::make_unique<TLiveLog>(run_.book, *run_.columns);
    run_.capture = std::make_unique<TLineCapture>(run_.tables.cformat_, run_.tables.cdata);
    run_.capture->SetDeviceText(decoder_.get());
    run_.log->ValuesAreUtf8 = run_.capture->JournalIsUtf8();
    run_.log->StampArrival = options_.timestamp.value_or(StoredTimestamp(ini_));
    run_.log->FileTemplate = [this] { return file_template_; };
    run_.log->OnNotice = [this](const std::string& text) { progress_.Message(text); };
    // Writes run on the log's own thread; what they report is shown from here.
    run_.log->OnError = [this](const ELiveLogError& error) {
        ++run_.tally.errors;
        run_.tally.write_error = error.what();
        last_error_ = error.what();
        progress_.Message(error.what());
    };
    run_.tables.cdata.AfterPost = [this](TMemTable& journal) {
        ++run_.lines;
        run_.log->cdataAfterPost(journal);
    };
    run_.log->CaptureStarting(LogVersionForTemplate(file_template_));
}

bool TCaptureSession::Finished() const {
    if (g_stop_signal != 0) return true;
    if (options_.lines && run_.lines >= *options_.lines) return true;
    if (options_.seconds &&
        std::chrono::duration<double>(SteadyClock::now() - started_).count() >= *options_.seconds)
        return true;
    return false;
}

std::string TCaptureSession::CurrentFile() const {
    const std::vector<std::string> files = run_.log->FilesWritten();
    return files.empty() ? std::string() : files.back();
}

TCaptureStatus TCaptureSession::Status() const {
    TCaptureStatus status;
    status.state = state_;
    status.device = device_label_;
    status.file = CurrentFile();
    status.lines_received = run_.log->RowsPosted();
    status.rows_written = run_.log->RowsWritten();
    status.rows_waiting = run_.log->UnwrittenRows();
    status.last_error = last_error_;
    return status;
}

void TCaptureSession::Tick() {
    run_.log->DeliverEvents();
    progress_.Show(run_.lines, CurrentFile());
    const TCaptureStatus status = Status();
    health_.Poll(status);
    if (status_file_) {
        try {
            status_file_->Update(status);
        } catch (const std::exception& error) {
            // The capture goes on: the device's lines matter more than the monitor's view.
            ++run_.tally.errors;
            progress_.Message(std::string("status file: ") + error.what());
            status_file_.reset();
        }
    }
}

// Every byte taken is cut into lines, also past the line limit: what was received is logged.
void TCaptureSession::TakeByte(char c) {
    try {
        run_.capture->TakeByte(c);
    } catch (const std::exception& error) {
        ++run_.tally.errors;
        last_error_ = error.what();
        progress_.Message(error.what());
    }
    ForgetPostedRows(run_.tables.cdata);
}

void TCaptureSession::InstallSignals() {
    g_stop_signal = 0;
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, &old_int_);
    ::sigaction(SIGTERM, &action, &old_term_);
}

void TCaptureSession::RestoreSignals() {
    ::sigaction(SIGINT, &old_int_, nullptr);
    ::sigaction(SIGTERM, &old_term_, nullptr);
}

void TCaptureSession::CaptureStdin() {
    device_label_.clear();
    run_.capture->PortOpened();
    Tick();
    char buffer[4096];
    bool end_of_input = false;
    while (!end_of_input && !Finished()) {
        pollfd p{STDIN_FILENO, POLLIN, 0};
        const int ready = ::poll(&p, 1, 200);
        if (ready > 0) {
            const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
            if (n <= 0 && !(n < 0 && errno == EINTR)) end_of_input = true;
            for (ssize_t i = 0; i < n; ++i) TakeByte(buffer[i]);
        }
        Tick();
    }
}

TPortSettings TCaptureSession::PortSettingsFor(const TDemoDevice* demo) const {
    // The component's own defaults (9600 8N1, no flow control) unless the operator confirmed port
    // settings in the window; the simulated scale has line settings of its own, and the settings
    // file describes the real device.
    TPortSettings settings;
    if (options_.source != TCaptureSource::kDemo) {
        if (const auto stored = StoredLineSettings(ini_)) settings = *stored;
    }
    if (demo != nullptr) {
        settings.device = demo->DevicePath();
    } else if (options_.source == TCaptureSource::kDevice) {
        // A node that has a by-id link is reopened through it after an unplug: the link follows
        // the adapter to whatever number the kernel gives it next.
        settings.device = serial::StablePathOf(options_.device);
    } else if (options_.source == TCaptureSource::kPort) {
        settings.com_number = options_.port;
    } else {
        settings.device = StoredCaptureDevice(ini_);
        if (settings.device.empty())
            throw ECaptureUsage(
                "no port is chosen in the settings file (or it is not present); give --device PATH, "
                "--port N, --stdin or --demo (\"linograf ports\" lists the ports)");
    }
    if (options_.baud) settings.baud = *options_.baud;
    if (options_.data_bits) settings.data_bits = *options_.data_bits;
    if (options_.parity) settings.parity = *options_.parity;
    if (options_.stop_bits) settings.stop_bits = *options_.stop_bits;
    if (options_.flow) settings.flow = *options_.flow;
    return settings;
}

void TCaptureSession::CapturePort() {
    std::unique_ptr<TDemoDevice> demo;
    if (options_.source == TCaptureSource::kDemo) demo = std::make_unique<TDemoDevice>();
    const TPortSettings settings = PortSettingsFor(demo.get());
    device_label_ = options_.source == TCaptureSource::kDevice ? options_.device
                    : !settings.device.empty()                 ? settings.device
                                                               : "COM" + std::to_string(settings.com_number);

    serial::PlainGuiThread gui;
    serial::TNlkComPort port(gui);
    serial::LoadNlkComPort1(port);
    port.SetPromptForPort(false);
    ApplyPortSettings(settings, port);
    port.SetOnPortOpen([&](serial::TNlkComPort&) { run_.capture->PortOpened(); });
    bool closing = false;
    auto last_delivery = SteadyClock::now();
    port.SetOnTriggerAvail([&](serial::TNlkComPort& cp, uint16_t count) {
        // A closing port hands out no bytes any more (GetChar gives 0): they are counted, not
        // taken as NULs into the line.
        if (closing) {
            run_.tally.bytes_not_taken += count;
            return;
        }
        last_delivery = SteadyClock::now();
        for (uint16_t i = 0; i < count; ++i) TakeByte(static_cast<char>(cp.GetChar()));
    });
    TCaptureReconnect reconnect(
        port, options_.reconnect, options_.source == TCaptureSource::kDevice ? options_.device : "",
        [&] { return run_.capture->BufferBytes(); },
        [&](const std::string& text) {
            last_error_ = text;
            progress_.Message(text);
        });
    port.SetOpen(true);
    if (demo) demo->Start(options_.demo_rate);

    std::size_t errors_shown = 0;
    auto show_port_errors = [&] {
        const std::vector<std::string> shown = gui.shown_errors();
        for (; errors_shown < shown.size(); ++errors_shown) {
            ++run_.tally.errors;
            last_error_ = shown[errors_shown];
            progress_.Message(shown[errors_shown]);
        }
    };
    auto done = [&] { return Finished() || reconnect.GaveUp(); };
    Tick();
    while (!done()) {
        gui.PumpUntil(done, std::chrono::milliseconds(200));
        show_port_errors();
        reconnect.Poll();
        state_ = !reconnect.Disconnected() ? "capturing"
                 : options_.reconnect      ? "reconnecting"
                                           : "disconnected";
        Tick();
    }
    if (demo) demo->Stop();
    // Bytes the port threads have already read are still on their way to this thread: they are
    // taken until the deliveries pause, so a stop loses none of them.
    DrainDeliveries(gui, last_delivery);
    // A device that keeps sending: the read thread stops, and what it had read still goes into
    // lines before the close discards the rest of the kernel's buffer, so the bytes taken from
    // the device and the bytes in lines agree.
    run_.tally.bytes_not_taken += static_cast<std::int64_t>(port.StopReceiving());
    closing = true;
    port.SetOpen(false);
    show_port_errors();
    // A device that vanished and is not back is a capture that did not run to its end.
    if (reconnect.Disconnected()) {
        ++run_.tally.errors;
        state_ = "disconnected";
    }
    summary_notes_ = reconnect.SummaryLines();
}

int TCaptureSession::Capture() {
    InstallSignals();
    started_ = SteadyClock::now();
    try {
        if (options_.source == TCaptureSource::kStdin)
            CaptureStdin();
        else
            CapturePort();
    } catch (const ECaptureUsage& error) {
        progress_.Message(error.what());
        return 2;
    } catch (const std::exception& error) {
        ++run_.tally.errors;
        last_error_ = error.what();
        progress_.Message(error.what());
    }
    return 0;
}

int TCaptureSession::Finish(int status) {
    // Every posted row is written before the program ends; rows a failed write left in memory get
    // a last chance. The stop signals stay caught meanwhile, so a second Ctrl+C does not cut the
    // last write short.
    try {
        run_.log->Flush();
    } catch (const std::exception& error) {
        ++run_.tally.errors;
        run_.tally.write_error = error.what();
        last_error_ = error.what();
        progress_.Message(error.what());
    }
    if (status_file_) {
        if (state_ == "capturing") state_ = "stopped";
        try {
            status_file_->Finish(Status());
        } catch (const std::exception& error) {
            ++run_.tally.errors;
            progress_.Message(std::string("status file: ") + error.what());
        }
    }
    RestoreSignals();
    progress_.Clear();
    if (status == 2) return status;

    run_.tally.lines_received = run_.log->RowsPosted();
    run_.tally.lines_written = run_.log->RowsWritten();
    run_.tally.unfinished_bytes = static_cast<std::int64_t>(run_.capture->Line().size());
    run_.tally.files = run_.log->FilesWritten();
    if (const std::string loss = CaptureLossMessage(run_.tally); !loss.empty()) progress_.Message(loss);
    std::fprintf(out_, "linograf capture: %s\n", CaptureSummaryLine(run_.tally).c_str());
    for (const std::string& file : run_.tally.files) std::fprintf(out_, "  %s\n", file.c_str());
    for (const std::string& note : summary_notes_) std::fprintf(out_, "%s\n", note.c_str());
    std::fflush(out_);
    return CaptureExitStatus(run_.tally);
}

}  // namespace

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
    TCaptureSession session(options, out, err);
    if (const int status = session.Prepare(err); status != 0) return status;
    session.WireLog();
    return session.Finish(session.Capture());
}

}  // namespace linograf
