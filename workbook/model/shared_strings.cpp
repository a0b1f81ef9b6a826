#include "workbook/model/shared_strings.h"

#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>

#include "workbook/model/huge_page_memory.h"

namespace linograf::workbook {

static_assert(sizeof(TSSTEntry) == 16, "entry header grew: every text cell pays for it");

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

TSST2::TSST2() : root_(reinterpret_cast<Link>(NewNode()) | kNodeBit) {}

TSST2::~TSST2() {
    FreeAll();
}

namespace {

constexpr size_t kHugeChunk = kHugePage;

}  // namespace

void* TSST2::Allocate(size_t bytes) {
    constexpr size_t kSmallChunk = 16 * sizeof(Node);
    if (chunks_.empty() || chunk_used_ + bytes > chunks_.back().second) {
        // A small table stays small; once it has grown past its first chunk, it gets 2 MB ones.
        // The unused end of a chunk is given up: less than one node's size per 2 MB.
        const bool first = chunks_.empty();
        void* memory = first ? std::malloc(kSmallChunk) : MapHugePages(kHugeChunk);
        const size_t size = first ? kSmallChunk : kHugeChunk;
        if (!memory) throw std::bad_alloc();
        // Links keep a tag in the top 16 bits of an address; user space addresses leave them
        // free on every 64-bit system this runs on, and this guards the assumption.
        if ((reinterpret_cast<uintptr_t>(memory) + size - 1) >> kTagShift) {
            first ? std::free(memory) : UnmapHugePages(memory, size);
            throw std::bad_alloc();
        }
        chunks_.push_back({memory, size});
        chunk_used_ = 0;
        chunk_zeroed_ = !first;
    }
    void* at = static_cast<char*>(chunks_.back().first) + chunk_used_;
    chunk_used_ += bytes;
    return at;
}

TSST2::Node* TSST2::NewNode() {
    Node* node = new (Allocate(sizeof(Node))) Node;
    // Nodes are cut from a chunk's untouched end, never from freed blocks: in a mapped chunk
    // they are zeros already, and clearing them again would only touch every page twice.
    if (!chunk_zeroed_) std::memset(node->slots, 0, sizeof node->slots);
    return node;
}

size_t TSST2::BlockSize(size_t bytes) {
    return (bytes + kGranule - 1) & ~(kGranule - 1);
}

size_t TSST2::BlockSize(const TSSTEntry* e) {
    size_t bytes = sizeof(TSSTEntry) + e->KeyBytes();
    if (e->type_ & kSSTExtended) bytes += 4 + e->Extended().size();
    return BlockSize(bytes);
}

void* TSST2::AllocateBlock(size_t size) {
    if (size > kLargestListed) {
        void* memory = ::operator new(size);
        // Links and the load index keep 16 bits beside an entry's address (see Allocate).
        if ((reinterpret_cast<uintptr_t>(memory) + size - 1) >> kTagShift) {
            ::operator delete(memory);
            throw std::bad_alloc();
        }
        large_.insert(memory);
        return memory;
    }
    if (void*& listed = free_lists_[size / kGranule]) {
        void* memory = listed;
        listed = *static_cast<void**>(memory);
        return memory;
    }
    return Allocate(size);
}

void TSST2::FreeBlock(void* block, size_t size) {
    if (size > kLargestListed) {
        large_.erase(block);
        ::operator delete(block);
        return;
    }
    // The freed block's first word links it to the list.
    void*& head = free_lists_[size / kGranule];
    *static_cast<void**>(block) = head;
    head = block;
}

TSST2::SmallNode* TSST2::NewSmallNode() {
    static_assert(sizeof(SmallNode) % kGranule == 0 && sizeof(SmallNode) <= kLargestListed);
    SmallNode* node = new (AllocateBlock(sizeof(SmallNode))) SmallNode;
    node->count = 0;
    // The bytes beyond count are compared too (and masked off): never left undefined.
    std::memset(node->bytes, 0, sizeof node->bytes);
    return node;
}

TSST2::Link* TSST2::AddSlot(Link& node_link, unsigned b) {
    if (Link* slot = FindSlot(node_link, b)) return slot;
    SmallNode* n = AsSmall(node_link);
    if (n->count == kSmallSlots) {
        // Slots emptied by releases go first.
        unsigned kept = 0;
        for (unsigned i = 0; i < n->count; ++i)
            if (n->slots[i]) {
                n->bytes[kept] = n->bytes[i];
                n->slots[kept++] = n->slots[i];
            }
        n->count = static_cast<uint8_t>(kept);
    }
    if (n->count == kSmallSlots) {
        Node* full = NewNode();
        for (unsigned i = 0; i < n->count; ++i) full->slots[n->bytes[i]] = n->slots[i];
        FreeBlock(n, sizeof(SmallNode));
        node_link = reinterpret_cast<Link>(full) | kNodeBit;
        return &full->slots[b];
    }
    unsigned at = n->count;
    while (at > 0 && n->bytes[at - 1] > b) {
        n->bytes[at] = n->bytes[at - 1];
        n->slots[at] = n->slots[at - 1];
        --at;
    }
    n->bytes[at] = static_cast<uint8_t>(b);
    n->slots[at] = 0;
    ++n->count;
    return &n->slots[at];
}

size_t TSST2::TCollisionHash::operator()(const TProbe& p) const {
    const std::string_view bytes(reinterpret_cast<const char*>(p.bytes.data()), p.bytes.size());
    return std::hash<std::string_view>()(bytes) ^ (p.type & ~kSSTExtended);
}

size_t TSST2::TCollisionHash::operator()(const TSSTEntry* e) const {
    return (*this)(TProbe{{e->Data(), e->KeyBytes()}, e->char_count_, e->type_});
}

bool TSST2::TCollisionEqual::operator()(const TProbe& p, const TSSTEntry* e) const {
    return Matches(e, p.bytes, p.chars, p.type);
}

void TSST2::FreeAll() {
    colliding_.clear();
    for (void* e : large_) ::operator delete(e);
    large_.clear();
    for (auto& [memory, size] : chunks_) size == kHugeChunk ? UnmapHugePages(memory, size) : std::free(memory);
    chunks_.clear();
    chunk_used_ = 0;
    std::fill(free_lists_.begin(), free_lists_.end(), nullptr);
}

namespace {

// CRC-32 tables for eight bytes at a time: kCrcTables[0] is the byte-wise table, and entry i of
// table k is the CRC contribution of byte i followed by k zero bytes.
struct CrcTables {
    uint32_t t[8][256];
    constexpr CrcTables() : t{} {
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int bit = 0; bit < 8; ++bit) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[0][i] = c;
        }
        for (int k = 1; k < 8; ++k)
            for (uint32_t i = 0; i < 256; ++i) t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
    }
};
constexpr CrcTables kCrc;

uint32_t Load32(const uint8_t* p) {
    return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

}  // namespace

uint32_t TSST2::Key(std::span<const uint8_t> bytes) {
    // Texts of cells are mostly short, where a call into zlib costs more than the bytes; long
    // ones go to zlib, whose CRC is faster per byte. zlib's CRC-32 inverts before and after;
    // inverting its result undoes the final inversion.
    if (bytes.size() > 64)
        return ~static_cast<uint32_t>(crc32(0, bytes.data(), static_cast<uInt>(bytes.size())));
    uint32_t c = 0xFFFFFFFFu;
    const uint8_t* p = bytes.data();
    size_t n = bytes.size();
    for (; n >= 8; n -= 8, p += 8) {
        const uint32_t lo = c ^ Load32(p), hi = Load32(p + 4);
        c = kCrc.t[7][lo & 0xFF] ^ kCrc.t[6][(lo >> 8) & 0xFF] ^ kCrc.t[5][(lo >> 16) & 0xFF] ^
            kCrc.t[4][lo >> 24] ^ kCrc.t[3][hi & 0xFF] ^ kCrc.t[2][(hi >> 8) & 0xFF] ^
            kCrc.t[1][(hi >> 16) & 0xFF] ^ kCrc.t[0][hi >> 24];
    }
    for (; n > 0; --n) c = kCrc.t[0][(c ^ *p++) & 0xFF] ^ (c >> 8);
    return c;
}

bool TSST2::Matches(const TSSTEntry* e, std::span<const uint8_t> bytes, uint16_t chars, uint8_t type) {
    // The type takes part: "a" + U+0000 in bytes and "a" in 16-bit units have the same bytes.
    return e->char_count_ == chars && (e->type_ & ~kSSTExtended) == (type & ~kSSTExtended) &&
           e->KeyBytes() == bytes.size() && std::memcmp(e->Data(), bytes.data(), bytes.size()) == 0;
}

TSSTEntry* TSST2::Add(std::u16string_view text) {
    return AddEntry(text, false, {}, {});
}

TSSTEntry* TSST2::AddEntry(std::u16string_view text, bool force_wide, std::span<const TSSTRun> runs,
                           std::span<const uint8_t> extended) {
    if (text.size() > 0xFFFF) throw std::length_error("Text longer than 65535 characters");
    if (runs.size() > 0xFFFF) throw std::length_error("More than 65535 formatting runs");
    const size_t key_size_narrow = text.size() + runs.size() * 4;
    scratch_.resize(key_size_narrow);
    uint8_t* p = scratch_.data();
    // Narrow first, as most texts are; the first character above 0xFF starts over wide.
    bool wide = force_wide;
    if (!wide) {
        char16_t all = 0;
        for (char16_t c : text) {
            all |= c;
            *p++ = static_cast<uint8_t>(c);
        }
        wide = all > 0xFF;
    }
    if (wide) {
        scratch_.resize(key_size_narrow + text.size());
        p = scratch_.data();
        for (char16_t c : text) {
            *p++ = static_cast<uint8_t>(c);
            *p++ = static_cast<uint8_t>(c >> 8);
        }
    }
    for (const TSSTRun& r : runs) {
        *p++ = static_cast<uint8_t>(r.position);
        *p++ = static_cast<uint8_t>(r.position >> 8);
        *p++ = static_cast<uint8_t>(r.font);
        *p++ = static_cast<uint8_t>(r.font >> 8);
    }
    const uint8_t type =
        (wide ? kSSTWide : 0) | (runs.empty() ? 0 : kSSTRuns) | (extended.empty() ? 0 : kSSTExtended);
    return Insert(scratch_, static_cast<uint16_t>(text.size()), type, static_cast<uint16_t>(runs.size()),
                  extended, Key(scratch_));
}

TSSTEntry* TSST2::AddStored(std::span<const uint8_t> chars_and_runs, uint16_t char_count, bool wide,
                            uint16_t run_count, std::span<const uint8_t> extended, uint32_t key) {
    if (chars_and_runs.size() != size_t{char_count} * (wide ? 2 : 1) + size_t{run_count} * 4)
        throw std::invalid_argument("Shared string bytes do not match their counts");
    const uint8_t type =
        (wide ? kSSTWide : 0) | (run_count ? kSSTRuns : 0) | (extended.empty() ? 0 : kSSTExtended);
    return Insert(chars_and_runs, char_count, type, run_count, extended, key);
}

void TSST2::Prefetch(uint32_t key, int depth) const {
    Link node = root_;
    for (int d = 0;; ++d) {
        const Link* slot = FindSlot(node, (key >> (8 * d)) & 0xFF);
        if (!slot) return;
        const Link s = *slot;
        if (d < depth) {
            if (!IsNode(s)) return;
            node = s;
            continue;
        }
        if (IsNode(s) && IsSmall(s)) {
            // The key bytes and the slot they lead to lie in different lines of a small node.
            const auto* p = reinterpret_cast<const char*>(AsSmall(s));
            for (size_t at = 0; at < sizeof(SmallNode); at += 64) __builtin_prefetch(p + at);
        } else if (IsNode(s)) {
            __builtin_prefetch(&AsNode(s)->slots[(key >> (8 * (d + 1))) & 0xFF]);
        } else if (IsChain(s)) {
            __builtin_prefetch(AsChain(s));
            __builtin_prefetch(reinterpret_cast<const char*>(AsChain(s)) + 64);
        }
        return;
    }
}

TSSTEntry* TSST2::Insert(std::span<const uint8_t> bytes, uint16_t chars, uint8_t type, uint16_t runs,
                         std::span<const uint8_t> extended, uint32_t key) {
    const uint16_t tag = Tag(key);
    Link* node_link = &root_;
    int depth = 0;
    Link s;
    for (;;) {
        Link* slot = FindSlot(*node_link, (key >> (8 * depth)) & 0xFF);
        s = slot ? *slot : 0;
        if (!IsNode(s)) break;
        node_link = slot;
        ++depth;
    }
    auto found = [&](TSSTEntry* e) {
        ++e->use_count_;
        ++ref_total_;
        return e;
    };
    if (IsChain(s) && AsChain(s)->count > kLongChain) {
        if (const auto it = colliding_.find(TProbe{bytes, chars, type}); it != colliding_.end()) return found(*it);
    } else if (IsChain(s)) {
        const Chain* c = AsChain(s);
        for (uint32_t i = 0; i < c->count; ++i) {
            const Link l = c->Links()[i];
            if (TagOf(l) == tag && Matches(AsEntry(l), bytes, chars, type)) return found(AsEntry(l));
        }
    } else if (s && TagOf(s) == tag && Matches(AsEntry(s), bytes, chars, type)) {
        return found(AsEntry(s));
    }
    const size_t tail = extended.empty() ? 0 : 4 + extended.size();
    TSSTEntry* e = new (AllocateBlock(BlockSize(sizeof(TSSTEntry) + bytes.size() + tail))) TSSTEntry;
    e->use_count_ = 1;
    e->char_count_ = chars;
    e->type_ = type;
    e->run_count_ = runs;
    if (!bytes.empty()) std::memcpy(e->Data(), bytes.data(), bytes.size());
    if (tail) {
        const uint32_t ext_size = static_cast<uint32_t>(extended.size());
        std::memcpy(e->Data() + bytes.size(), &ext_size, 4);
        std::memcpy(e->Data() + bytes.size() + 4, extended.data(), extended.size());
    }
    Place(*node_link, depth, key, EntryLink(e, key));
    ++count_;
    ++ref_total_;
    return e;
}

TSST2::Chain* TSST2::NewChain(uint32_t capacity) {
    Chain* c = new (AllocateBlock(BlockSize(sizeof(Chain) + size_t{capacity} * sizeof(Link)))) Chain;
    c->count = 0;
    c->capacity = capacity;
    return c;
}

void TSST2::FreeChain(Chain* chain) {
    const size_t size = BlockSize(sizeof(Chain) + size_t{chain->capacity} * sizeof(Link));
    chain->~Chain();
    FreeBlock(chain, size);
}

void TSST2::Place(Link& node_link, int depth, uint32_t key, Link entry) {
    Link& slot = *AddSlot(node_link, (key >> (8 * depth)) & 0xFF);
    if (IsNode(slot)) {
        Place(slot, depth + 1, key, entry);
        return;
    }
    if (slot == 0) {
        slot = entry;
        return;
    }
    if (!IsChain(slot)) {
        Chain* c = NewChain(kFirstChainCapacity);
        c->Links()[0] = slot;
        c->Links()[1] = entry;
        c->count = 2;
        slot = reinterpret_cast<Link>(c) | kChainBit;
        return;
    }
    Chain* c = AsChain(slot);
    if (c->count < kChainLimit || depth >= kLastDepth) {
        if (c->count == c->capacity) {
            // Only the last level's chains outgrow the limit, and only with keys that collide.
            Chain* grown = NewChain(c->capacity * 2);
            std::memcpy(grown->Links(), c->Links(), c->count * sizeof(Link));
            grown->count = c->count;
            FreeChain(c);
            c = grown;
            slot = reinterpret_cast<Link>(c) | kChainBit;
        }
        c->Links()[c->count++] = entry;
        if (c->count == kLongChain + 1) {
            for (uint32_t i = 0; i < c->count; ++i) colliding_.insert(AsEntry(c->Links()[i]));
        } else if (c->count > kLongChain + 1) {
            colliding_.insert(AsEntry(entry));
        }
        return;
    }
    // The ninth entry: the slot becomes an inner node. Re-placing oldest first keeps every
    // chain newest first. Nothing else changes in this node meanwhile, so the slot stays put.
    Link chain[kChainLimit];
    std::memcpy(chain, c->Links(), sizeof chain);
    FreeChain(c);
    slot = reinterpret_cast<Link>(NewSmallNode()) | kNodeBit | kSmallBit;
    for (const Link l : chain) {
        // The entries of this slot share the key's bytes up to this depth, and each link holds
        // the top two bytes of its own: below the root the whole key is known without reading
        // the entry.
        const uint32_t k = depth >= 1 ? (key & 0xFFFF) | (uint32_t{TagOf(l)} << 16)
                                      : Key({AsEntry(l)->Data(), AsEntry(l)->KeyBytes()});
        Place(slot, depth + 1, k, l);
    }
    Place(slot, depth + 1, key, entry);
}

void TSST2::AddLoaded(TSSTEntry* entry) {
    const bool again = entry->index_ < loaded_.size() && loaded_[entry->index_].Entry() == entry;
    if (again) {
        loaded_.push_back(Loaded(entry, kCountedOnEntry));
        return;
    }
    entry->index_ = static_cast<uint32_t>(loaded_.size());
    loaded_.push_back(Loaded(entry, 0));
}

void TSST2::ApplyLoadedReferences(TSSTEntry* entry) {
    if (entry->index_ >= loaded_.size()) return;
    TLoaded& l = loaded_[entry->index_];
    if (l.Entry() != entry || l.References() == kCountedOnEntry) return;
    entry->use_count_ += l.References();
    l.bits &= TLoaded::kAddress;
}

void TSST2::ClearLoadIndex() {
    for (const TLoaded& l : loaded_)
        if (l.References() != kCountedOnEntry) l.Entry()->use_count_ += l.References();
    loaded_ = {};
}

void TSST2::Release(TSSTEntry* entry) {
    if (!entry) return;
    if (!loaded_.empty()) ApplyLoadedReferences(entry);
    if (--entry->use_count_ > 0) return;
    const uint32_t key = Key({entry->Data(), entry->KeyBytes()});
    Link* link = FindSlot(root_, key & 0xFF);
    for (int depth = 1; link && IsNode(*link); ++depth) link = FindSlot(*link, (key >> (8 * depth)) & 0xFF);
    if (link && IsChain(*link)) {
        Chain* c = AsChain(*link);
        Link* links = c->Links();
        for (uint32_t i = 0; i < c->count; ++i) {
            if (AsEntry(links[i]) != entry) continue;
            std::memmove(links + i, links + i + 1, (c->count - i - 1) * sizeof(Link));
            if (--c->count == 0) {
                FreeChain(c);
                *link = 0;
            }
            break;
        }
    } else if (link && AsEntry(*link) == entry) {
        *link = 0;
    }
    if (!colliding_.empty()) colliding_.erase(entry);
    const size_t size = BlockSize(entry);
    entry->~TSSTEntry();
    FreeBlock(entry, size);
    --count_;
    if (ref_total_ > 0) --ref_total_;
}

void TSST2::Clear() {
    FreeAll();
    root_ = reinterpret_cast<Link>(NewNode()) | kNodeBit;
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
