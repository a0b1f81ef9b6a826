#pragma once
// Helpers shared by the compound document tests: reproducible contents, a flat listing of a
// document tree, and little-endian access to saved files for targeted damage.
#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "workbook/cfb/compound_document.h"

namespace linograf::workbook::cfbtest {

// Bytes that differ from position to position and from seed to seed, so a sector copied to
// the wrong place or in the wrong order shows.
inline std::string Pattern(std::size_t size, std::uint32_t seed) {
    std::string out(size, '\0');
    std::uint32_t x = seed * 2654435761u + 1;
    for (std::size_t i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        out[i] = static_cast<char>(x & 0xFF);
    }
    return out;
}

inline std::string Utf8(std::u16string_view text) {
    std::string out;
    for (char16_t c : text) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// Every stream of the tree by its path ("Storage/Stream", UTF-8) with its bytes.
inline void FlattenInto(const TCompoundStorage& storage, const std::string& prefix,
                        std::map<std::string, std::string>& out) {
    for (const TCompoundElementInfo& e : storage.Elements()) {
        const std::string path = prefix + Utf8(e.name);
        if (e.type == TCompoundElementType::cetStream)
            out[path] = storage.OpenStream(e.name).Bytes();
        else
            FlattenInto(storage.OpenStorage(e.name), path + "/", out);
    }
}

inline std::map<std::string, std::string> Flatten(const TCompoundDocument& document) {
    std::map<std::string, std::string> out;
    FlattenInto(document.Root(), "", out);
    return out;
}

inline std::uint32_t Get32(const std::string& bytes, std::size_t at) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(bytes.at(at + i));
    return v;
}

inline void Put32(std::string& bytes, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes.at(at + i) = static_cast<char>((v >> (8 * i)) & 0xFF);
}

// Offset of sector s's FAT entry in a saved file with 512-byte sectors and at most 109 FAT sectors.
inline std::size_t FatEntryOffset(const std::string& bytes, std::uint32_t s) {
    return (std::size_t{Get32(bytes, 0x4C + 4 * (s / 128))} + 1) * 512 + 4 * (s % 128);
}

inline void Put16(std::string& bytes, std::size_t at, std::uint16_t v) {
    bytes.at(at) = static_cast<char>(v & 0xFF);
    bytes.at(at + 1) = static_cast<char>(v >> 8);
}

// Offset of the directory entry named `name` (compared unit by unit) in a saved file with
// 512-byte sectors; raises std::out_of_range when there is none.
inline std::size_t DirectoryEntryOffset(const std::string& bytes, std::u16string_view name) {
    for (std::uint32_t s = Get32(bytes, 0x30); s < 0xFFFFFFFA; s = Get32(bytes, FatEntryOffset(bytes, s))) {
        for (std::size_t at = (std::size_t{s} + 1) * 512; at < (std::size_t{s} + 2) * 512; at += 128) {
            const std::size_t units = static_cast<unsigned char>(bytes.at(at + 0x40)) / 2;
            std::u16string n;
            for (std::size_t i = 0; i + 1 < units; ++i)
                n += static_cast<char16_t>(static_cast<unsigned char>(bytes.at(at + 2 * i)) |
                                           (static_cast<unsigned char>(bytes.at(at + 2 * i + 1)) << 8));
            if (n == name) return at;
        }
    }
    throw std::out_of_range("no directory entry of that name");
}

// Lays the sectors of a stream kept in regular sectors out in reverse order and relinks its
// chain: the stream's bytes stay the same, but none of its sectors follows the one before it in
// the file any more.
inline void ReverseStreamSectors(std::string& bytes, std::u16string_view name) {
    const std::size_t entry = DirectoryEntryOffset(bytes, name);
    std::vector<std::uint32_t> chain;
    for (std::uint32_t s = Get32(bytes, entry + 0x74); s < 0xFFFFFFFA;
         s = Get32(bytes, FatEntryOffset(bytes, s)))
        chain.push_back(s);
    std::vector<std::string> contents;
    for (std::uint32_t s : chain) contents.push_back(bytes.substr((std::size_t{s} + 1) * 512, 512));
    const std::size_t n = chain.size();
    // The i-th sector of the stream goes to where the (n-1-i)-th was.
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint32_t at = chain[n - 1 - i];
        bytes.replace((std::size_t{at} + 1) * 512, contents[i].size(), contents[i]);
        Put32(bytes, FatEntryOffset(bytes, at), i + 1 < n ? chain[n - 2 - i] : 0xFFFFFFFE);
    }
    Put32(bytes, entry + 0x74, chain[n - 1]);
}

}  // namespace linograf::workbook::cfbtest
