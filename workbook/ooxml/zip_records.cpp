#include "workbook/ooxml/zip_records.h"

#include <cmath>

namespace linograf::workbook {
namespace {

std::uint16_t Get16(const char* p) {
    const auto* b = reinterpret_cast<const unsigned char*>(p);
    return static_cast<std::uint16_t>(b[0] | (b[1] << 8));
}

std::uint32_t Get32(const char* p) {
    const auto* b = reinterpret_cast<const unsigned char*>(p);
    return static_cast<std::uint32_t>(b[0]) | (static_cast<std::uint32_t>(b[1]) << 8) |
           (static_cast<std::uint32_t>(b[2]) << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
}

void Put16(std::string& out, std::uint16_t v) {
    out.push_back(static_cast<char>(v & 0xFF));
    out.push_back(static_cast<char>(v >> 8));
}

void Put32(std::string& out, std::uint32_t v) {
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<char>((v >> shift) & 0xFF));
}

}  // namespace

TLocalFile TLocalFile::DecodeFixed(const char* p) {
    TLocalFile r;
    r.signature = Get32(p);
    r.version_needed = Get16(p + 4);
    r.flags = Get16(p + 6);
    r.method = Get16(p + 8);
    r.mod_time = Get16(p + 10);
    r.mod_date = Get16(p + 12);
    r.crc32 = Get32(p + 14);
    r.compressed_size = Get32(p + 18);
    r.uncompressed_size = Get32(p + 22);
    r.name_length = Get16(p + 26);
    r.extra_length = Get16(p + 28);
    return r;
}

std::string TLocalFile::Encode() const {
    std::string out;
    out.reserve(kFixedSize + name.size() + extra.size());
    Put32(out, signature);
    Put16(out, version_needed);
    Put16(out, flags);
    Put16(out, method);
    Put16(out, mod_time);
    Put16(out, mod_date);
    Put32(out, crc32);
    Put32(out, compressed_size);
    Put32(out, uncompressed_size);
    Put16(out, name_length);
    Put16(out, extra_length);
    out += name;
    out += extra;
    return out;
}

TCentralDirectoryFile TCentralDirectoryFile::DecodeFixed(const char* p) {
    TCentralDirectoryFile r;
    r.signature = Get32(p);
    r.version_made_by = Get16(p + 4);
    r.version_needed = Get16(p + 6);
    r.flags = Get16(p + 8);
    r.method = Get16(p + 10);
    r.mod_time = Get16(p + 12);
    r.mod_date = Get16(p + 14);
    r.crc32 = Get32(p + 16);
    r.compressed_size = Get32(p + 20);
    r.uncompressed_size = Get32(p + 24);
    r.name_length = Get16(p + 28);
    r.extra_length = Get16(p + 30);
    r.comment_length = Get16(p + 32);
    r.disk_number_start = Get16(p + 34);
    r.internal_attributes = Get16(p + 36);
    r.external_attributes = Get32(p + 38);
    r.local_header_offset = Get32(p + 42);
    return r;
}

std::string TCentralDirectoryFile::Encode() const {
    std::string out;
    out.reserve(kFixedSize + name.size() + extra.size() + comment.size());
    Put32(out, signature);
    Put16(out, version_made_by);
    Put16(out, version_needed);
    Put16(out, flags);
    Put16(out, method);
    Put16(out, mod_time);
    Put16(out, mod_date);
    Put32(out, crc32);
    Put32(out, compressed_size);
    Put32(out, uncompressed_size);
    Put16(out, name_length);
    Put16(out, extra_length);
    Put16(out, comment_length);
    Put16(out, disk_number_start);
    Put16(out, internal_attributes);
    Put32(out, external_attributes);
    Put32(out, local_header_offset);
    out += name;
    out += extra;
    out += comment;
    return out;
}

TEndOfCentralDir TEndOfCentralDir::DecodeFixed(const char* p) {
    TEndOfCentralDir r;
    r.signature = Get32(p);
    r.disk_number = Get16(p + 4);
    r.central_dir_disk = Get16(p + 6);
    r.entries_this_disk = Get16(p + 8);
    r.entries_total = Get16(p + 10);
    r.central_dir_size = Get32(p + 12);
    r.central_dir_offset = Get32(p + 16);
    r.comment_length = Get16(p + 20);
    return r;
}

std::string TEndOfCentralDir::Encode() const {
    std::string out;
    out.reserve(kFixedSize);
    Put32(out, signature);
    Put16(out, disk_number);
    Put16(out, central_dir_disk);
    Put16(out, entries_this_disk);
    Put16(out, entries_total);
    Put32(out, central_dir_size);
    Put32(out, central_dir_offset);
    Put16(out, comment_length);
    return out;
}

std::uint32_t DateTimeToDos(TDateTime value) {
    DateTimeParts p = DecodeDateTime(value);
    if (!std::isfinite(value) || p.year < 1980) {
        p = DateTimeParts{1980, 1, 1, 0, 0, 0, 0};
    } else if (p.year > 2107) {
        p = DateTimeParts{2107, 12, 31, 23, 59, 58, 0};
    }
    const auto time = static_cast<std::uint32_t>((p.hour << 11) | (p.minute << 5) | (p.second / 2));
    const auto date = static_cast<std::uint32_t>(((p.year - 1980) << 9) | (p.month << 5) | p.day);
    return (date << 16) | time;
}

TDateTime DosToDateTime(std::uint16_t dos_time, std::uint16_t dos_date) {
    DateTimeParts p;
    p.year = 1980 + (dos_date >> 9);
    p.month = (dos_date >> 5) & 0x0F;
    p.day = dos_date & 0x1F;
    p.hour = dos_time >> 11;
    p.minute = (dos_time >> 5) & 0x3F;
    p.second = (dos_time & 0x1F) * 2;
    static constexpr int kDaysInMonth[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (p.month < 1 || p.month > 12 || p.day < 1 || p.day > kDaysInMonth[p.month - 1] || p.hour > 23 ||
        p.minute > 59 || p.second > 59)
        return 0;
    return EncodeDateTime(p);
}

}  // namespace linograf::workbook
