#pragma once
// Compound documents (the Compound File Binary format of OLE structured storage): the container
// of every .xls file. A document is a tree of storages (folders) and streams (byte arrays) held
// in memory: a file is read whole when it is opened and laid out whole when it is saved, so the
// record stream can be written front to back, patched by seeking back, and still become a valid
// container in one pass at the end.
//
// Names follow the format's rules everywhere: at most 31 UTF-16 units, none of '/', '\', ':'
// or '!', compared without regard to case (the format's upper-case folding), so "WORKBOOK" finds
// "Workbook" and creating "WORKBOOK" replaces it.
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "base/seek_origin.h"

namespace linograf::workbook {

// Every failure of this layer: bad names, missing elements, damaged or foreign files, file
// system errors. what() is the complete message.
class ECompoundDocumentError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

enum class TCompoundElementType : std::uint8_t { cetStorage = 1, cetStream = 2 };

using TClassId = std::array<std::uint8_t, 16>;

struct TCompoundElementInfo {
    std::u16string name;
    TCompoundElementType type = TCompoundElementType::cetStream;
    std::uint64_t size = 0;  // bytes of a stream; 0 for a storage
};

// Orders names as the format's directory trees do: shorter names first, then unit by unit after
// upper-casing. Returns <0, 0 or >0.
int CompareElementNames(std::u16string_view a, std::u16string_view b);
bool ElementNamesEqual(std::u16string_view a, std::u16string_view b);

// A stream opened for reading and writing: the bytes plus a position. The bytes are shared with
// the storage holding the stream, so what is written is what the document saves; the handle
// stays usable (and keeps its bytes) even after the element is removed or replaced.
class TCompoundStream {
  public:
    TCompoundStream() = default;

    // Writes at the position and advances it, growing the stream; a position past the end is
    // first filled with zero bytes. Returns the number of bytes written.
    std::size_t Write(const void* data, std::size_t count);
    std::size_t Write(std::string_view bytes) { return Write(bytes.data(), bytes.size()); }
    // Reads up to count bytes from the position; fewer (or none) at the end of the stream.
    std::size_t Read(void* data, std::size_t count);
    // Moves the position; a position before the start raises, one past the end is allowed.
    std::uint64_t Seek(std::int64_t offset, TSeekOrigin origin);
    std::uint64_t Position() const { return position_; }
    std::uint64_t Size() const;
    // Cuts or zero-extends the stream; the position is left where it was.
    void SetSize(std::uint64_t size);
    // The whole content, independent of the position.
    const std::string& Bytes() const;
    bool IsOpen() const { return data_ != nullptr; }

  private:
    friend class TCompoundStorage;
    explicit TCompoundStream(std::shared_ptr<std::string> data) : data_(std::move(data)) {}
    std::string& Data() const;

    std::shared_ptr<std::string> data_;
    std::uint64_t position_ = 0;
};

class TCompoundStorage {
  public:
    TCompoundStorage();
    ~TCompoundStorage();
    TCompoundStorage(const TCompoundStorage&) = delete;
    TCompoundStorage& operator=(const TCompoundStorage&) = delete;

    // Direct children in the format's name order, with their sizes.
    std::vector<TCompoundElementInfo> Elements() const;
    bool Contains(std::u16string_view name) const;
    // Type and size of one child; raises when there is none of that name.
    TCompoundElementInfo Element(std::u16string_view name) const;

    // Create mode: an element of the same name (any type, any case) is replaced by a new empty
    // stream or storage carrying the given spelling.
    TCompoundStream CreateStream(std::u16string_view name);
    // The same, with the stream's bytes taken over from `bytes` instead of copied.
    TCompoundStream CreateStream(std::u16string_view name, std::string bytes);
    TCompoundStorage& CreateStorage(std::u16string_view name);
    // Raise when the element is missing or of the other type.
    TCompoundStream OpenStream(std::u16string_view name) const;
    TCompoundStorage& OpenStorage(std::u16string_view name);
    const TCompoundStorage& OpenStorage(std::u16string_view name) const;
    // True when an element was removed.
    bool Remove(std::u16string_view name);
    void Clear();

    // Deep-copies every child (or those `keep` accepts) into target, replacing elements of the
    // same name there. Stream bytes are copied, not shared. Copying a storage into itself or
    // into one of its own descendants raises.
    void CopyTo(TCompoundStorage& target,
                const std::function<bool(const TCompoundElementInfo&)>& keep = {}) const;

    // Attributes the format keeps for storages; preserved when a document is read and copied.
    const TClassId& ClassId() const { return class_id_; }
    void SetClassId(const TClassId& id) { class_id_ = id; }
    std::uint32_t StateBits() const { return state_bits_; }
    void SetStateBits(std::uint32_t bits) { state_bits_ = bits; }
    std::uint64_t CreationTime() const { return creation_time_; }
    std::uint64_t ModifiedTime() const { return modified_time_; }
    void SetTimes(std::uint64_t created, std::uint64_t modified) {
        creation_time_ = created;
        modified_time_ = modified;
    }

  private:
    friend class TCompoundDocumentReader;
    friend class TCompoundDocumentWriter;
    struct Child {
        std::u16string name;
        TCompoundElementType type;
        std::shared_ptr<std::string> data;          // streams
        std::unique_ptr<TCompoundStorage> storage;  // storages
    };
    // Position of name in children_ (kept sorted), or where it would be inserted.
    std::size_t LowerBound(std::u16string_view name) const;
    const Child* Find(std::u16string_view name) const;
    Child& Insert(std::u16string_view name, TCompoundElementType type);
    bool IsOrContains(const TCompoundStorage* other) const;
    void CopyChildren(TCompoundStorage& target,
                      const std::function<bool(const TCompoundElementInfo&)>& keep) const;

    std::vector<Child> children_;
    TClassId class_id_{};
    std::uint32_t state_bits_ = 0;
    std::uint64_t creation_time_ = 0;
    std::uint64_t modified_time_ = 0;
};

// Where the bytes of a stream lie in the file it was read from: (offset, length) ranges of the
// file, in stream order, consecutive sectors joined into one range; together they hold exactly
// the stream's bytes.
struct TFileExtents {
    std::vector<std::pair<std::uint64_t, std::uint64_t>> ranges;
    std::uint64_t size = 0;
};

// Asked, while a document is loaded, for each stream of the root storage that lies whole in
// regular sectors of the file (none cut short by its end): true leaves its bytes in the file
// (the document then holds the stream empty), so a large stream its caller walks in place is
// not copied.
using TLeaveInFile = std::function<bool(std::u16string_view name, const TFileExtents& extents)>;

// A file the reader takes its bytes from as it needs them, so that a caller walking a large
// stream in place need not hold the whole file: `read` fills `to` with the `count` bytes at
// `at` (always within `size`) or raises.
struct TFileBytes {
    std::uint64_t size = 0;
    std::function<void(std::uint64_t at, std::size_t count, char* to)> read;
};

class TCompoundDocument {
  public:
    // Major version 3 lays the file out in 512-byte sectors, 4 in 4096-byte sectors.
    explicit TCompoundDocument(int major_version = 3);
    TCompoundDocument(TCompoundDocument&&) noexcept;
    TCompoundDocument& operator=(TCompoundDocument&&) noexcept;
    ~TCompoundDocument();

    // Read a whole document. Damaged or foreign input raises ECompoundDocumentError; the
    // document read keeps the file's version for the next save.
    static TCompoundDocument Load(std::string_view bytes);
    static TCompoundDocument Load(std::string_view bytes, const TLeaveInFile& leave_in_file);
    static TCompoundDocument Load(const TFileBytes& file, const TLeaveInFile& leave_in_file);
    static TCompoundDocument LoadFile(const std::string& path);
    // True when the bytes start with the format's signature (the file need not be valid).
    static bool IsCompoundDocument(std::string_view bytes);
    static bool IsCompoundFile(const std::string& path);

    TCompoundStorage& Root() { return *root_; }
    const TCompoundStorage& Root() const { return *root_; }

    int MajorVersion() const { return major_version_; }
    void SetMajorVersion(int major_version);
    std::uint32_t SectorSize() const { return major_version_ == 4 ? 4096u : 512u; }

    // The complete file. Identical trees give identical bytes: no time stamps or other
    // varying values are added.
    std::string Save() const;
    // Creates or truncates the file and writes the document.
    void SaveToFile(const std::string& path) const;

  private:
    std::unique_ptr<TCompoundStorage> root_;
    int major_version_ = 3;
};

}  // namespace linograf::workbook
