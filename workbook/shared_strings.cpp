#include "workbook/shared_strings.h"

#include <zlib.h>

#include <sys/mman.h>

#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>

namespace linograf::workbook {

static_assert(sizeof(TSSTEntry) == 24, "entry header grew: every text cell pays for it");

std::span<const uint8_t> TSSTEntry::CharBytes() const {
    return {Data(), size_t{char_count_} * (Wide() ? 2 : 1)};
}

TSSTRun TSSTEntry::Run(int i) const {
    const uint8_t* p = Data() + CharBytes().size() + 4 * static_cast<size_t>(i);
    return {static_cast<uint16_t>(p[0] | (p[1] << 8)), static_cast<uint16_t>(p[2] | (p[3] << 8))};
}

std::span<const uint8_t> TSSTEntry::Extended() const {
    if (!(type_ & kSSTExtended)) return {};
    const uint8_t* p = Data() + KeyBytes();
    uint32_t size;
    std::memcpy(&size, p, 4);
    return {p + 4, size};
}

char16_t TSSTEntry::Char(size_t i) const {
    const uint8_t* p = Data();
    return Wide() ? static_cast<char16_t>(p[2 * i] | (p[2 * i + 1] << 8)) : static_cast<char16_t>(p[i]);
}

TSST2::TSST2() : root_(NewNode()) {}

TSST2::~TSST2() {
    Clear();
    FreeNodes();
}

TSST2::Node* TSST2::NewNode() {
    constexpr size_t kSmallChunk = 16 * sizeof(Node);
    constexpr size_t kHugeChunk = size_t{2} << 20;
    if (chunks_.empty() || chunk_used_ + sizeof(Node) > chunks_.back().second) {
        // A small table stays small; once it has grown past its first chunk, it gets 2 MB ones.
        size_t size = chunks_.empty() ? kSmallChunk : kHugeChunk;
        void* memory = std::aligned_alloc(size == kHugeChunk ? kHugeChunk : alignof(Node), size);
        if (!memory) throw std::bad_alloc();
        if (size == kHugeChunk) madvise(memory, size, MADV_HUGEPAGE);
        chunks_.push_back({memory, size});
        chunk_used_ = 0;
    }
    void* at = static_cast<char*>(chunks_.back().first) + chunk_used_;
    chunk_used_ += sizeof(Node);
    return new (at) Node;
}

void TSST2::FreeNodes() {
    for (auto& [memory, size] : chunks_) std::free(memory);
    chunks_.clear();
    chunk_used_ = 0;
}

uint32_t TSST2::Key(std::span<const uint8_t> bytes) {
    // zlib's CRC-32 inverts before and after; inverting its result undoes the final inversion.
    return ~static_cast<uint32_t>(crc32(0, bytes.data(), static_cast<uInt>(bytes.size())));
}

bool TSST2::Matches(const TSSTEntry* e, std::span<const uint8_t> bytes, uint16_t chars, uint8_t type) {
    // The type takes part: "a" + U+0000 in bytes and "a" in 16-bit units have the same bytes.
    return e->char_count_ == chars && (e->type_ & ~kSSTExtended) == (type & ~kSSTExtended) &&
           e->KeyBytes() == bytes.size() && std::memcmp(e->Data(), bytes.data(), bytes.size()) == 0;
}

TSSTEntry* TSST2::Add(std::u16string_view text) { return AddEntry(text, false, {}, {}); }

TSSTEntry* TSST2::AddEntry(std::u16string_view text, bool force_wide, std::span<const TSSTRun> runs,
                           std::span<const uint8_t> extended) {
    if (text.size() > 0xFFFF) throw std::length_error("Text longer than 65535 characters");
    if (runs.size() > 0xFFFF) throw std::length_error("More than 65535 formatting runs");
    bool wide = force_wide;
    if (!wide)
        for (char16_t c : text)
            if (c > 0xFF) {
                wide = true;
                break;
            }
    uint8_t type = (wide ? kSSTWide : 0) | (runs.empty() ? 0 : kSSTRuns) | (extended.empty() ? 0 : kSSTExtended);
    size_t key_size = text.size() * (wide ? 2 : 1) + runs.size() * 4;
    scratch_.resize(key_size);
    uint8_t* p = scratch_.data();
    if (wide) {
        for (char16_t c : text) {
            *p++ = static_cast<uint8_t>(c);
            *p++ = static_cast<uint8_t>(c >> 8);
        }
    } else {
        for (char16_t c : text) *p++ = static_cast<uint8_t>(c);
    }
    for (const TSSTRun& r : runs) {
        *p++ = static_cast<uint8_t>(r.position);
        *p++ = static_cast<uint8_t>(r.position >> 8);
        *p++ = static_cast<uint8_t>(r.font);
        *p++ = static_cast<uint8_t>(r.font >> 8);
    }
    return Insert(scratch_, static_cast<uint16_t>(text.size()), type, static_cast<uint16_t>(runs.size()), extended);
}

TSSTEntry* TSST2::Insert(std::span<const uint8_t> bytes, uint16_t chars, uint8_t type, uint16_t runs,
                         std::span<const uint8_t> extended) {
    ++ref_total_;
    uint32_t key = Key(bytes);
    Node* node = root_;
    int depth = 0;
    for (;;) {
        Slot s = node->slots[(key >> (8 * depth)) & 0xFF];
        if (!IsNode(s)) {
            for (TSSTEntry* e = reinterpret_cast<TSSTEntry*>(s); e; e = e->next_) {
                if (Matches(e, bytes, chars, type)) {
                    ++e->use_count_;
                    return e;
                }
            }
            break;
        }
        node = AsNode(s);
        ++depth;
    }
    size_t tail = extended.empty() ? 0 : 4 + extended.size();
    void* memory = ::operator new(sizeof(TSSTEntry) + bytes.size() + tail);
    TSSTEntry* e = new (memory) TSSTEntry;
    e->use_count_ = 1;
    e->char_count_ = chars;
    e->type_ = type;
    e->run_count_ = runs;
    if (!bytes.empty()) std::memcpy(e->Data(), bytes.data(), bytes.size());
    if (tail) {
        uint32_t size = static_cast<uint32_t>(extended.size());
        std::memcpy(e->Data() + bytes.size(), &size, 4);
        std::memcpy(e->Data() + bytes.size() + 4, extended.data(), extended.size());
    }
    Place(node, depth, key, e);
    ++count_;
    return e;
}

void TSST2::Place(Node* node, int depth, uint32_t key, TSSTEntry* entry) {
    Slot& slot = node->slots[(key >> (8 * depth)) & 0xFF];
    if (IsNode(slot)) {
        Place(AsNode(slot), depth + 1, key, entry);
        return;
    }
    TSSTEntry* head = reinterpret_cast<TSSTEntry*>(slot);
    int length = 0;
    for (TSSTEntry* e = head; e; e = e->next_) ++length;
    if (length < kChainLimit || depth >= kLastDepth) {
        entry->next_ = head;
        slot = reinterpret_cast<Slot>(entry);
        return;
    }
    // The ninth entry: the slot becomes an inner node. Re-placing oldest first keeps every
    // chain newest first.
    TSSTEntry* chain[kChainLimit];
    int n = 0;
    for (TSSTEntry* e = head; e; e = e->next_) chain[n++] = e;
    Node* inner = NewNode();
    slot = reinterpret_cast<Slot>(inner) | 1;
    for (int i = n - 1; i >= 0; --i) {
        chain[i]->next_ = nullptr;
        Place(inner, depth + 1, Key({chain[i]->Data(), chain[i]->KeyBytes()}), chain[i]);
    }
    Place(inner, depth + 1, key, entry);
}

void TSST2::Release(TSSTEntry* entry) {
    if (!entry || --entry->use_count_ > 0) return;
    uint32_t key = Key({entry->Data(), entry->KeyBytes()});
    Node* node = root_;
    int depth = 0;
    for (;;) {
        Slot& slot = node->slots[(key >> (8 * depth)) & 0xFF];
        if (IsNode(slot)) {
            node = AsNode(slot);
            ++depth;
            continue;
        }
        TSSTEntry** link = reinterpret_cast<TSSTEntry**>(&slot);
        while (*link && *link != entry) link = &(*link)->next_;
        if (*link) *link = entry->next_;
        break;
    }
    entry->~TSSTEntry();
    ::operator delete(entry);
    --count_;
    if (ref_total_ > 0) --ref_total_;
}

void TSST2::FreeNode(Node* node) {
    for (Slot& s : node->slots) {
        if (IsNode(s)) {
            FreeNode(AsNode(s));
        } else {
            TSSTEntry* e = reinterpret_cast<TSSTEntry*>(s);
            while (e) {
                TSSTEntry* next = e->next_;
                e->~TSSTEntry();
                ::operator delete(e);
                e = next;
            }
        }
        s = 0;
    }
}

void TSST2::Clear() {
    FreeNode(root_);
    FreeNodes();
    root_ = NewNode();
    count_ = 0;
    ref_total_ = 0;
    loaded_ = {};
    ext_sst_.clear();
}

std::u16string TSST2::Text(const TSSTEntry* entry) {
    std::u16string text(entry->CharCount(), u'\0');
    for (size_t i = 0; i < text.size(); ++i) text[i] = entry->Char(i);
    return text;
}

}  // namespace linograf::workbook
