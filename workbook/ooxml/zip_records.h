#pragma once
// The three PKWARE ZIP records this archive reads and writes (APPNOTE 4.3.7, 4.3.12, 4.3.16).
// All multi-byte fields are little-endian. No ZIP64, no encryption, no multi-disk archives.
#include <cstdint>
#include <string>

#include "base/date_time.h"

namespace linograf::workbook {

inline constexpr std::uint32_t kLocalFileSignature = 0x04034b50;
inline constexpr std::uint32_t kCentralFileSignature = 0x02014b50;
inline constexpr std::uint32_t kEndOfCentralDirSignature = 0x06054b50;
inline constexpr std::uint32_t kDataDescriptorSignature = 0x08074b50;

inline constexpr std::uint16_t kZipVersion = 20;  // 2.0: deflate and folders
inline constexpr std::uint16_t kMethodStored = 0;
inline constexpr std::uint16_t kMethodDeflated = 8;
inline constexpr std::uint16_t kFlagEncrypted = 0x0001;
inline constexpr std::uint16_t kFlagDataDescriptor = 0x0008;  // sizes and CRC follow the data
inline constexpr std::uint16_t kFlagUtf8Name = 0x0800;
inline constexpr std::uint32_t kAttrFolder = 16;   // MS-DOS directory attribute
inline constexpr std::uint32_t kAttrArchive = 32;  // MS-DOS archive attribute: a file

// Local file header.
//   OFFSET SIZE DESCRIPTION
//        0    4 signature 0x04034b50
//        4    2 version needed to extract
//        6    2 general purpose bit flag
//        8    2 compression method
//       10    2 last mod file time (MS-DOS)
//       12    2 last mod file date (MS-DOS)
//       14    4 crc-32 of the uncompressed data
//       18    4 compressed size
//       22    4 uncompressed size
//       26    2 file name length (n)
//       28    2 extra field length (e)
//       30    n file name, then e bytes of extra field, then the entry data
struct TLocalFile {
    static constexpr std::size_t kFixedSize = 30;

    std::uint32_t signature = kLocalFileSignature;
    std::uint16_t version_needed = kZipVersion;
    std::uint16_t flags = 0;
    std::uint16_t method = kMethodStored;
    std::uint16_t mod_time = 0;
    std::uint16_t mod_date = 0;
    std::uint32_t crc32 = 0;
    std::uint32_t compressed_size = 0;
    std::uint32_t uncompressed_size = 0;
    std::uint16_t name_length = 0;
    std::uint16_t extra_length = 0;
    std::string name;
    std::string extra;

    // `fixed` holds kFixedSize bytes; name and extra field are left to the caller.
    static TLocalFile DecodeFixed(const char* fixed);
    // Fixed part followed by name and extra field.
    std::string Encode() const;
    std::uint64_t HeaderSize() const { return kFixedSize + name_length + extra_length; }
};

// Central directory file header.
//   OFFSET SIZE DESCRIPTION
//        0    4 signature 0x02014b50
//        4    2 version made by
//        6    2 version needed to extract
//        8    2 general purpose bit flag
//       10    2 compression method
//       12    2 last mod file time
//       14    2 last mod file date
//       16    4 crc-32
//       20    4 compressed size
//       24    4 uncompressed size
//       28    2 file name length (n)
//       30    2 extra field length (e)
//       32    2 file comment length (c)
//       34    2 disk number start
//       36    2 internal file attributes
//       38    4 external file attributes (MS-DOS attributes in the low byte)
//       42    4 relative offset of local header
//       46    n file name, e bytes extra field, c bytes file comment
struct TCentralDirectoryFile {
    static constexpr std::size_t kFixedSize = 46;

    std::uint32_t signature = kCentralFileSignature;
    std::uint16_t version_made_by = kZipVersion;
    std::uint16_t version_needed = kZipVersion;
    std::uint16_t flags = 0;
    std::uint16_t method = kMethodStored;
    std::uint16_t mod_time = 0;
    std::uint16_t mod_date = 0;
    std::uint32_t crc32 = 0;
    std::uint32_t compressed_size = 0;
    std::uint32_t uncompressed_size = 0;
    std::uint16_t name_length = 0;
    std::uint16_t extra_length = 0;
    std::uint16_t comment_length = 0;
    std::uint16_t disk_number_start = 0;
    std::uint16_t internal_attributes = 0;
    std::uint32_t external_attributes = 0;
    std::uint32_t local_header_offset = 0;
    std::string name;
    std::string extra;
    std::string comment;

    static TCentralDirectoryFile DecodeFixed(const char* fixed);
    std::string Encode() const;
    std::uint64_t RecordSize() const { return kFixedSize + name_length + extra_length + comment_length; }
};

// End of central directory record.
//   OFFSET SIZE DESCRIPTION
//        0    4 signature 0x06054b50
//        4    2 number of this disk
//        6    2 disk where the central directory starts
//        8    2 central directory entries on this disk
//       10    2 central directory entries in total
//       12    4 size of the central directory
//       16    4 offset of the central directory from the start of the archive
//       20    2 archive comment length (c)
//       22    c archive comment
struct TEndOfCentralDir {
    static constexpr std::size_t kFixedSize = 22;

    std::uint32_t signature = kEndOfCentralDirSignature;
    std::uint16_t disk_number = 0;
    std::uint16_t central_dir_disk = 0;
    std::uint16_t entries_this_disk = 0;
    std::uint16_t entries_total = 0;
    std::uint32_t central_dir_size = 0;
    std::uint32_t central_dir_offset = 0;
    std::uint16_t comment_length = 0;

    static TEndOfCentralDir DecodeFixed(const char* fixed);
    // The fixed part only; the archive comment follows it.
    std::string Encode() const;
};

// MS-DOS time (low 16 bits) and date (high 16 bits), local time as the writer's clock shows it.
// Dates before 1980 are written as 1980-01-01 00:00 and after 2107 as 2107-12-31 23:59:58, the
// bounds of the format.
std::uint32_t DateTimeToDos(TDateTime value);
// An impossible date or time (month 0, hour 25 and the like) gives 0.
TDateTime DosToDateTime(std::uint16_t dos_time, std::uint16_t dos_date);

}  // namespace linograf::workbook
