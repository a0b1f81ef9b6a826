#pragma once
// On-disk layout of compound documents, shared by the reader and the writer.
//
// The file is an array of sectors; the header takes sector "-1" (the first 512 bytes of a
// version 3 file, the first 4096 bytes of a version 4 file, the rest of it zero), sector n
// starts at (n + 1) * sector size. The FAT maps each sector to the next one of its chain.
//
// Header:
//   OFFSET  SIZE  DESCRIPTION
//   0x00    8     signature D0 CF 11 E0 A1 B1 1A E1
//   0x08    16    class id, zero
//   0x18    2     minor version, 0x003E
//   0x1A    2     major version, 3 or 4
//   0x1C    2     byte order mark 0xFFFE (little-endian)
//   0x1E    2     sector shift: 9 (512 bytes) or 12 (4096 bytes)
//   0x20    2     mini sector shift: 6 (64 bytes)
//   0x22    6     reserved, zero
//   0x28    4     number of directory sectors (version 4 only; zero in version 3)
//   0x2C    4     number of FAT sectors
//   0x30    4     first directory sector
//   0x34    4     transaction signature, zero
//   0x38    4     mini stream cutoff: streams shorter than this (4096) live in the mini stream
//   0x3C    4     first mini FAT sector
//   0x40    4     number of mini FAT sectors
//   0x44    4     first DIFAT sector
//   0x48    4     number of DIFAT sectors
//   0x4C    436   the first 109 FAT sector numbers (the rest of the DIFAT is chained from 0x44;
//                 each DIFAT sector holds sector size / 4 - 1 numbers, then the next one)
//
// Directory entry (128 bytes, sector size / 128 per directory sector, entry 0 = root):
//   OFFSET  SIZE  DESCRIPTION
//   0x00    64    name, UTF-16LE, zero-terminated
//   0x40    2     name length in bytes including the terminator
//   0x42    1     type: 0 unused, 1 storage, 2 stream, 5 root storage
//   0x43    1     colour in the sibling red-black tree: 0 red, 1 black
//   0x44    4     left sibling entry
//   0x48    4     right sibling entry
//   0x4C    4     child entry (root of the storage's sibling tree)
//   0x50    16    class id (storages)
//   0x60    4     state bits (storages)
//   0x64    8     creation time (storages)
//   0x6C    8     modification time (storages)
//   0x74    4     first sector (streams; for the root: of the mini stream)
//   0x78    8     size in bytes (version 3 files may leave the high half uninitialised)
#include <cstdint>
#include <cstring>
#include <string>

namespace linograf::workbook::cfb {

inline constexpr unsigned char kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};

inline constexpr std::uint32_t kHeaderSize = 512;
inline constexpr std::uint32_t kHeaderDifatEntries = 109;
inline constexpr std::uint32_t kDirectoryEntrySize = 128;
inline constexpr std::uint32_t kMiniSectorSize = 64;
inline constexpr std::uint32_t kMiniStreamCutoff = 4096;
inline constexpr std::uint16_t kMinorVersion = 0x003E;
inline constexpr std::uint16_t kByteOrderMark = 0xFFFE;
inline constexpr std::size_t kMaxNameUnits = 31;

// Sector numbers above kMaxRegularSector are markers.
inline constexpr std::uint32_t kMaxRegularSector = 0xFFFFFFFA;
inline constexpr std::uint32_t kDifatSector = 0xFFFFFFFC;
inline constexpr std::uint32_t kFatSector = 0xFFFFFFFD;
inline constexpr std::uint32_t kEndOfChain = 0xFFFFFFFE;
inline constexpr std::uint32_t kFreeSector = 0xFFFFFFFF;
inline constexpr std::uint32_t kNoStream = 0xFFFFFFFF;

enum EntryType : std::uint8_t { kEntryUnused = 0, kEntryStorage = 1, kEntryStream = 2, kEntryRoot = 5 };
enum EntryColour : std::uint8_t { kRed = 0, kBlack = 1 };

namespace offset {
inline constexpr std::size_t kMinor = 0x18, kMajor = 0x1A, kByteOrder = 0x1C, kSectorShift = 0x1E,
                             kMiniSectorShift = 0x20, kDirectorySectors = 0x28, kFatSectors = 0x2C,
                             kFirstDirectory = 0x30, kMiniCutoff = 0x38, kFirstMiniFat = 0x3C,
                             kMiniFatSectors = 0x40, kFirstDifat = 0x44, kDifatSectors = 0x48, kDifat = 0x4C;
namespace entry {
inline constexpr std::size_t kName = 0x00, kNameLength = 0x40, kType = 0x42, kColour = 0x43, kLeft = 0x44,
                             kRight = 0x48, kChild = 0x4C, kClassId = 0x50, kStateBits = 0x60,
                             kCreated = 0x64, kModified = 0x6C, kStart = 0x74, kSize = 0x78;
}  // namespace entry
}  // namespace offset

// Little-endian access; callers check the bounds.
inline std::uint16_t Get16(const char* p) {
    const auto* u = reinterpret_cast<const unsigned char*>(p);
    return static_cast<std::uint16_t>(u[0] | (u[1] << 8));
}
inline std::uint32_t Get32(const char* p) {
    const auto* u = reinterpret_cast<const unsigned char*>(p);
    return static_cast<std::uint32_t>(u[0]) | (static_cast<std::uint32_t>(u[1]) << 8) |
           (static_cast<std::uint32_t>(u[2]) << 16) | (static_cast<std::uint32_t>(u[3]) << 24);
}
inline std::uint64_t Get64(const char* p) {
    return static_cast<std::uint64_t>(Get32(p)) | (static_cast<std::uint64_t>(Get32(p + 4)) << 32);
}
inline void Put16(char* p, std::uint16_t v) {
    p[0] = static_cast<char>(v & 0xFF);
    p[1] = static_cast<char>(v >> 8);
}
inline void Put32(char* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}
inline void Put64(char* p, std::uint64_t v) {
    Put32(p, static_cast<std::uint32_t>(v));
    Put32(p + 4, static_cast<std::uint32_t>(v >> 32));
}

}  // namespace linograf::workbook::cfb
