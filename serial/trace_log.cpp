// The trace (bytes through the port, in a fixed ring) and the dispatch log (what the dispatcher
// did, timestamped, in a bounded queue), and their text files.
#include <sys/stat.h>
#include <sys/utsname.h>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <string>

#include "serial/base_dispatcher.h"
#include "serial/platform_error.h"
#include "serial/trace_format.h"
#include "serial/trace_log_types.h"

namespace linograf::serial {

namespace {

bool FileExists(const std::string& name) {
    struct stat st {};
    return ::stat(name.c_str(), &st) == 0;
}

// Opens a text file for appending (when asked and it exists) or anew; on failure the negated
// runtime I/O error number comes back in `code`.
std::FILE* OpenTextFile(const std::string& name, bool append, int32_t& code) {
    std::FILE* file = std::fopen(name.c_str(), append && FileExists(name) ? "ab" : "wb");
    code = file != nullptr ? 0 : -IoErrorFromErrno(errno);
    return file;
}

int32_t CloseTextFile(std::FILE* file, const std::string& text) {
    int32_t code = 0;
    if (!text.empty() && std::fwrite(text.data(), 1, text.size(), file) != text.size())
        code = -IoErrorFromErrno(errno);
    if (std::fclose(file) != 0 && code == 0) code = -IoErrorFromErrno(errno);
    return code;
}

}  // namespace

std::string OperatingSystemDescription() {
    utsname name{};
    if (::uname(&name) != 0) return "Unknown";
    std::string text =
        std::string(name.sysname) + " " + name.release + " " + name.version + " " + name.machine;
    return text.substr(0, 80);
}

std::string CompilerDescription() {
#if defined(__clang__)
    return std::string("Clang ") + __clang_version__;
#elif defined(__GNUC__)
    return std::string("GCC ") + __VERSION__;
#else
    return "C++ compiler";
#endif
}

// ---------------------------------------------------------------- trace

int32_t TNlkBaseDispatcher::StartTrace(uint32_t capacity) {
    std::lock_guard state(state_lock_);
    if (trace_) {
        trace_->position = 0;
        trace_->wrapped = false;
        trace_->recording = true;
        return 0;
    }
    if (capacity > kMaxTraceCapacity) return ecBadArgument;
    trace_ = std::make_unique<Trace>();
    trace_->capacity = capacity;
    trace_->entries.assign(2 * static_cast<size_t>(capacity), 0);
    trace_->recording = true;
    return 0;
}

void TNlkBaseDispatcher::StopTrace() {
    std::lock_guard state(state_lock_);
    trace_.reset();
}

void TNlkBaseDispatcher::ClearTrace() {
    std::lock_guard state(state_lock_);
    if (!trace_) return;
    trace_->position = 0;
    trace_->wrapped = false;
}

void TNlkBaseDispatcher::PauseTrace() {
    std::lock_guard state(state_lock_);
    if (trace_) trace_->recording = false;
}

void TNlkBaseDispatcher::ResumeTrace() {
    std::lock_guard state(state_lock_);
    if (trace_) trace_->recording = true;
}

bool TNlkBaseDispatcher::Tracing() const {
    std::lock_guard state(state_lock_);
    return trace_ && trace_->recording;
}

void TNlkBaseDispatcher::AddTraceEntry(char kind, uint8_t byte) {
    std::lock_guard state(state_lock_);
    if (!trace_ || !trace_->recording || trace_->capacity == 0) return;
    trace_->entries[2 * trace_->position] = static_cast<uint8_t>(kind);
    trace_->entries[2 * trace_->position + 1] = byte;
    if (++trace_->position == trace_->capacity) {
        trace_->position = 0;
        trace_->wrapped = true;
    }
}

int32_t TNlkBaseDispatcher::WriteTrace(const std::string& file_name, bool in_hex, bool all_hex, bool append) {
    std::lock_guard state(state_lock_);
    if (!trace_) return 0;
    if (!trace_->wrapped && trace_->position == 0) return 0;
    int32_t code = 0;
    std::FILE* file = OpenTextFile(file_name, append, code);
    if (file == nullptr) {
        StopTrace();
        return code;
    }
    const uint32_t count = trace_->wrapped ? trace_->capacity : trace_->position;
    const uint32_t first = trace_->wrapped ? trace_->position : 0;
    std::vector<std::pair<char, uint8_t>> entries;
    entries.reserve(count);
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t at = (first + i) % trace_->capacity;
        entries.emplace_back(static_cast<char>(trace_->entries[2 * at]), trace_->entries[2 * at + 1]);
    }
    code = CloseTextFile(file, FormatTrace(entries, in_hex, all_hex));
    const uint32_t capacity = trace_->capacity;
    trace_.reset();
    StartTrace(capacity);
    return code;
}

// ---------------------------------------------------------------- log

void TNlkBaseDispatcher::StartLog(uint32_t limit) {
    std::lock_guard state(state_lock_);
    if (!log_) log_ = std::make_unique<Log>();
    log_->queue.Clear();
    log_->limit = limit;
    log_->recording = true;
}

void TNlkBaseDispatcher::StopLog() {
    std::lock_guard state(state_lock_);
    log_.reset();
}

void TNlkBaseDispatcher::ClearLog() {
    std::lock_guard state(state_lock_);
    if (log_) log_->queue.Clear();
}

void TNlkBaseDispatcher::PauseLog() {
    std::lock_guard state(state_lock_);
    if (log_) log_->recording = false;
}

void TNlkBaseDispatcher::ResumeLog() {
    std::lock_guard state(state_lock_);
    if (log_) log_->recording = true;
}

bool TNlkBaseDispatcher::Logging() const {
    std::lock_guard state(state_lock_);
    return log_ && log_->recording;
}

void TNlkBaseDispatcher::AddLogEntry(uint8_t type, uint16_t subtype, const uint8_t* data, uint32_t length,
                                     uint32_t other) {
    std::lock_guard state(state_lock_);
    if (!log_ || !log_->recording) return;
    // The limit is tested before the entry goes in, so the count may pass it by one entry.
    while (log_->limit != 0 && log_->queue.BytesQueued() > log_->limit && log_->queue.Pop()) {
    }
    std::vector<uint8_t> bytes;
    if (data != nullptr && length > 0) bytes.assign(data, data + length);
    log_->queue.Push(
        std::make_unique<TLogBuffer>(type, subtype, TimeGetTime() - open_time_, other, std::move(bytes)));
}

int32_t TNlkBaseDispatcher::WriteLog(const std::string& file_name, bool in_hex, bool all_hex, bool append) {
    std::lock_guard state(state_lock_);
    if (!log_ || log_->queue.Count() == 0) return 0;
    int32_t code = 0;
    std::FILE* file = OpenTextFile(file_name, append, code);
    if (file == nullptr) return code;

    LogHeader header;
    header.compiler = CompilerDescription();
    header.operating_system = OperatingSystemDescription();
    header.device = device_name_;
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%d/%m/%y, %H:%M:%S", &local);
    header.date_time = stamp;

    std::vector<LogEntryView> entries;
    std::vector<std::unique_ptr<TIOBuffer>> taken;
    while (auto item = log_->queue.Pop()) {
        auto* entry = dynamic_cast<TLogBuffer*>(item.get());
        if (entry == nullptr) continue;
        entries.push_back({entry->type, entry->subtype, entry->time, entry->other_data, entry->data});
        taken.push_back(std::move(item));
    }
    return CloseTextFile(file, FormatLog(header, entries, in_hex, all_hex));
}

}  // namespace linograf::serial
