#include "workbook/cfb/compound_document.h"

#include <fcntl.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <utility>

#include "workbook/cfb/compound_document_format.h"

namespace linograf::workbook {
namespace {

// The format upper-cases with Unicode's simple case mapping. Names in workbook files are ASCII
// in practice; Latin-1, Greek and Cyrillic letters are folded too so names typed in those scripts
// sort where other implementations look for them. Other letters compare as they are.
char16_t FoldForName(char16_t c) {
    if (c >= u'a' && c <= u'z') return static_cast<char16_t>(c - 0x20);
    if (c < 0xE0) return c;
    if (c <= 0xFE) return c == 0xF7 ? c : static_cast<char16_t>(c - 0x20);
    if (c == 0xFF) return 0x178;
    if (c >= 0x3B1 && c <= 0x3C9) return c == 0x3C2 ? char16_t{0x3A3} : static_cast<char16_t>(c - 0x20);
    if (c >= 0x430 && c <= 0x44F) return static_cast<char16_t>(c - 0x20);
    if (c >= 0x450 && c <= 0x45F) return static_cast<char16_t>(c - 0x50);
    return c;
}

std::string NameForMessage(std::u16string_view name) {
    std::string out;
    for (char16_t c : name) {
        if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            static const char hex[] = "0123456789ABCDEF";
            out += "\\x";
            if (c > 0xFF) {
                out += hex[(c >> 12) & 0xF];
                out += hex[(c >> 8) & 0xF];
            }
            out += hex[(c >> 4) & 0xF];
            out += hex[c & 0xF];
        }
    }
    return out;
}

void CheckName(std::u16string_view name) {
    if (name.empty()) throw ECompoundDocumentError("Element name is empty");
    if (name.size() > cfb::kMaxNameUnits)
        throw ECompoundDocumentError("Element name is longer than 31 characters: \"" + NameForMessage(name) +
                                     "\"");
    for (char16_t c : name) {
        if (c == u'/' || c == u'\\' || c == u':' || c == u'!' || c == 0)
            throw ECompoundDocumentError("Element name contains an invalid character: \"" +
                                         NameForMessage(name) + "\"");
    }
}

[[noreturn]] void ThrowFileError(const std::string& what, const std::string& path, int error) {
    throw ECompoundDocumentError(what + " \"" + path + "\": " + std::strerror(error));
}

}  // namespace

int CompareElementNames(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char16_t x = FoldForName(a[i]), y = FoldForName(b[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    return 0;
}

bool ElementNamesEqual(std::u16string_view a, std::u16string_view b) {
    return CompareElementNames(a, b) == 0;
}

// ---------------------------------------------------------------------------------------------
// TCompoundStream

std::string& TCompoundStream::Data() const {
    if (!data_) throw ECompoundDocumentError("Stream is not open");
    return *data_;
}

const std::string& TCompoundStream::Bytes() const {
    return Data();
}

std::uint64_t TCompoundStream::Size() const {
    return Data().size();
}

std::size_t TCompoundStream::Write(const void* data, std::size_t count) {
    std::string& bytes = Data();
    if (count == 0) return 0;
    if (position_ > bytes.max_size() || count > bytes.max_size() - position_)
        throw ECompoundDocumentError("Stream is too large");
    const std::size_t at = static_cast<std::size_t>(position_);
    if (bytes.size() < at + count) bytes.resize(at + count, '\0');
    std::memcpy(bytes.data() + at, data, count);
    position_ += count;
    return count;
}

std::size_t TCompoundStream::Read(void* data, std::size_t count) {
    const std::string& bytes = Data();
    if (position_ >= bytes.size()) return 0;
    const std::size_t n = std::min<std::uint64_t>(count, bytes.size() - position_);
    std::memcpy(data, bytes.data() + position_, n);
    position_ += n;
    return n;
}

std::uint64_t TCompoundStream::Seek(std::int64_t offset, TSeekOrigin origin) {
    std::int64_t base = 0;
    switch (origin) {
        case TSeekOrigin::soBeginning:
            base = 0;
            break;
        case TSeekOrigin::soCurrent:
            base = static_cast<std::int64_t>(position_);
            break;
        case TSeekOrigin::soEnd:
            base = static_cast<std::int64_t>(Data().size());
            break;
    }
    if ((offset < 0 && base + offset < 0) ||
        (offset > 0 && base > std::numeric_limits<std::int64_t>::max() - offset))
        throw ECompoundDocumentError("Seek to an invalid stream position");
    Data();  // a closed stream raises here too
    position_ = static_cast<std::uint64_t>(base + offset);
    return position_;
}

void TCompoundStream::SetSize(std::uint64_t size) {
    std::string& bytes = Data();
    if (size > bytes.max_size()) throw ECompoundDocumentError("Stream is too large");
    bytes.resize(static_cast<std::size_t>(size), '\0');
}

// ---------------------------------------------------------------------------------------------
// TCompoundStorage

TCompoundStorage::TCompoundStorage() = default;
TCompoundStorage::~TCompoundStorage() = default;

std::size_t TCompoundStorage::LowerBound(std::u16string_view name) const {
    auto it = std::lower_bound(
        children_.begin(), children_.end(), name,
        [](const Child& c, std::u16string_view n) { return CompareElementNames(c.name, n) < 0; });
    return static_cast<std::size_t>(it - children_.begin());
}

const TCompoundStorage::Child* TCompoundStorage::Find(std::u16string_view name) const {
    std::size_t i = LowerBound(name);
    if (i < children_.size() && ElementNamesEqual(children_[i].name, name)) return &children_[i];
    return nullptr;
}

TCompoundStorage::Child& TCompoundStorage::Insert(std::u16string_view name, TCompoundElementType type) {
    std::size_t i = LowerBound(name);
    Child child{std::u16string(name), type, nullptr, nullptr};
    if (type == TCompoundElementType::cetStream)
        child.data = std::make_shared<std::string>();
    else
        child.storage = std::make_unique<TCompoundStorage>();
    if (i < children_.size() && ElementNamesEqual(children_[i].name, name)) {
        children_[i] = std::move(child);
    } else {
        children_.insert(children_.begin() + static_cast<std::ptrdiff_t>(i), std::move(child));
    }
    return children_[i];
}

std::vector<TCompoundElementInfo> TCompoundStorage::Elements() const {
    std::vector<TCompoundElementInfo> out;
    out.reserve(children_.size());
    for (const Child& c : children_)
        out.push_back({c.name, c.type, c.type == TCompoundElementType::cetStream ? c.data->size() : 0});
    return out;
}

bool TCompoundStorage::Contains(std::u16string_view name) const {
    return Find(name) != nullptr;
}

TCompoundElementInfo TCompoundStorage::Element(std::u16string_view name) const {
    const Child* c = Find(name);
    if (!c) throw ECompoundDocumentError("Element not found: \"" + NameForMessage(name) + "\"");
    return {c->name, c->type, c->type == TCompoundElementType::cetStream ? c->data->size() : 0};
}

TCompoundStream TCompoundStorage::CreateStream(std::u16string_view name) {
    CheckName(name);
    return TCompoundStream(Insert(name, TCompoundElementType::cetStream).data);
}

TCompoundStream TCompoundStorage::CreateStream(std::u16string_view name, std::string bytes) {
    CheckName(name);
    Child& child = Insert(name, TCompoundElementType::cetStream);
    *child.data = std::move(bytes);
    return TCompoundStream(child.data);
}

TCompoundStorage& TCompoundStorage::CreateStorage(std::u16string_view name) {
    CheckName(name);
    return *Insert(name, TCompoundElementType::cetStorage).storage;
}

TCompoundStream TCompoundStorage::OpenStream(std::u16string_view name) const {
    const Child* c = Find(name);
    if (!c) throw ECompoundDocumentError("Stream not found: \"" + NameForMessage(name) + "\"");
    if (c->type != TCompoundElementType::cetStream)
        throw ECompoundDocumentError("Element is a storage, not a stream: \"" + NameForMessage(name) + "\"");
    return TCompoundStream(c->data);
}

const TCompoundStorage& TCompoundStorage::OpenStorage(std::u16string_view name) const {
    const Child* c = Find(name);
    if (!c) throw ECompoundDocumentError("Storage not found: \"" + NameForMessage(name) + "\"");
    if (c->type != TCompoundElementType::cetStorage)
        throw ECompoundDocumentError("Element is a stream, not a storage: \"" + NameForMessage(name) + "\"");
    return *c->storage;
}

TCompoundStorage& TCompoundStorage::OpenStorage(std::u16string_view name) {
    return const_cast<TCompoundStorage&>(std::as_const(*this).OpenStorage(name));
}

bool TCompoundStorage::Remove(std::u16string_view name) {
    std::size_t i = LowerBound(name);
    if (i < children_.size() && ElementNamesEqual(children_[i].name, name)) {
        children_.erase(children_.begin() + static_cast<std::ptrdiff_t>(i));
        return true;
    }
    return false;
}

void TCompoundStorage::Clear() {
    children_.clear();
}

bool TCompoundStorage::IsOrContains(const TCompoundStorage* other) const {
    if (other == this) return true;
    for (const Child& c : children_)
        if (c.storage && c.storage->IsOrContains(other)) return true;
    return false;
}

void TCompoundStorage::CopyTo(TCompoundStorage& target,
                              const std::function<bool(const TCompoundElementInfo&)>& keep) const {
    if (IsOrContains(&target)) throw ECompoundDocumentError("A storage cannot be copied into itself");
    CopyChildren(target, keep);
}

void TCompoundStorage::CopyChildren(TCompoundStorage& target,
                                    const std::function<bool(const TCompoundElementInfo&)>& keep) const {
    for (const Child& c : children_) {
        if (keep) {
            TCompoundElementInfo info{c.name, c.type,
                                      c.type == TCompoundElementType::cetStream ? c.data->size() : 0};
            if (!keep(info)) continue;
        }
        Child& copy = target.Insert(c.name, c.type);
        if (c.type == TCompoundElementType::cetStream) {
            *copy.data = *c.data;
        } else {
            copy.storage->class_id_ = c.storage->class_id_;
            copy.storage->state_bits_ = c.storage->state_bits_;
            copy.storage->creation_time_ = c.storage->creation_time_;
            copy.storage->modified_time_ = c.storage->modified_time_;
            c.storage->CopyChildren(*copy.storage, {});
        }
    }
}

// ---------------------------------------------------------------------------------------------
// TCompoundDocument

TCompoundDocument::TCompoundDocument(int major_version) : root_(std::make_unique<TCompoundStorage>()) {
    SetMajorVersion(major_version);
}
TCompoundDocument::TCompoundDocument(TCompoundDocument&&) noexcept = default;
TCompoundDocument& TCompoundDocument::operator=(TCompoundDocument&&) noexcept = default;
TCompoundDocument::~TCompoundDocument() = default;

void TCompoundDocument::SetMajorVersion(int major_version) {
    if (major_version != 3 && major_version != 4)
        throw ECompoundDocumentError("Unsupported compound document version " +
                                     std::to_string(major_version));
    major_version_ = major_version;
}

bool TCompoundDocument::IsCompoundDocument(std::string_view bytes) {
    return bytes.size() >= sizeof cfb::kSignature &&
           std::memcmp(bytes.data(), cfb::kSignature, sizeof cfb::kSignature) == 0;
}

bool TCompoundDocument::IsCompoundFile(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    char head[sizeof cfb::kSignature];
    ssize_t n = ::read(fd, head, sizeof head);
    ::close(fd);
    return n == static_cast<ssize_t>(sizeof head) && IsCompoundDocument(std::string_view(head, sizeof head));
}

TCompoundDocument TCompoundDocument::LoadFile(const std::string& path) {
    if (path.empty()) throw ECompoundDocumentError("Filename is missing");
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) ThrowFileError("Cannot open", path, errno);
    std::string bytes;
    char buffer[65536];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            int error = errno;
            ::close(fd);
            ThrowFileError("Cannot read", path, error);
        }
        if (n == 0) break;
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return Load(bytes);
}

void TCompoundDocument::SaveToFile(const std::string& path) const {
    if (path.empty()) throw ECompoundDocumentError("Filename is missing");
    const std::string bytes = Save();  // laid out before the file is touched
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) ThrowFileError("Cannot create", path, errno);
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            int error = errno;
            ::close(fd);
            ThrowFileError("Cannot write", path, error);
        }
        done += static_cast<std::size_t>(n);
    }
    if (::close(fd) != 0) ThrowFileError("Cannot write", path, errno);
}

}  // namespace linograf::workbook
