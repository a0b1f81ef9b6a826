#include "workbook/model/shared_strings.h"

#include <zlib.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string_view>

namespace linograf::workbook {

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

TSST2::TSST2() {
    static_assert(offsetof(TSSTEntry, type_) + 1 == TSSTEntry::kDataAt, "the data follow the last field");
    static_assert(sizeof(Node) % alignof(Slot) == 0 && sizeof(Slot) == 16, "slots follow the node");
    static_assert(sizeof(Chain) % alignof(Chained) == 0, "entries follow the chain");
    root_ = NewNode(256, true);
}

TSST2::~TSST2() = default;

void TSST2::FreeEntry(TSSTEntry* e) {
    size_t data = e->KeyBytes();
    if (e->type_ & kSSTExtended) data += 4 + e->Extended().size();
    e->~TSSTEntry();
    pool_.deallocate(e, TSSTEntry::BlockBytes(data), alignof(TSSTEntry));
}

TSST2::Node* TSST2::NewNode(uint16_t capacity, bool dense) {
    void* block = pool_.allocate(Node::BlockBytes(capacity, dense), alignof(Slot));
    Node* node = new (block) Node{dense ? capacity : uint16_t{0}, capacity, dense};
    for (uint16_t i = 0; i < capacity; ++i) new (node->Slots() + i) Slot;
    return node;
}

void TSST2::FreeNode(Node* node) {
    pool_.deallocate(node, Node::BlockBytes(node->capacity, node->dense), alignof(Slot));
}

TSST2::Chain* TSST2::NewChain(uint32_t capacity) {
    void* block = pool_.allocate(sizeof(Chain) + size_t{capacity} * sizeof(Chained), alignof(Chained));
    return new (block) Chain{capacity};
}

void TSST2::FreeChain(Chain* chain) {
    pool_.deallocate(chain, sizeof(Chain) + size_t{chain->capacity} * sizeof(Chained), alignof(Chained));
}

TSST2::Slot* TSST2::Node::Find(unsigned b) {
    if (dense) return &Slots()[b];
    const uint8_t* bytes = Bytes();
    const uint8_t* it = std::lower_bound(bytes, bytes + used, b);
    return it != bytes + used && *it == b ? &Slots()[it - bytes] : nullptr;
}

TSST2::Slot& TSST2::FindOrAdd(Node*& node, unsigned b) {
    if (node->dense) return node->Slots()[b];
    uint8_t* bytes = node->Bytes();
    const size_t at = static_cast<size_t>(std::lower_bound(bytes, bytes + node->used, b) - bytes);
    if (at < node->used && bytes[at] == b) return node->Slots()[at];
    if (node->used == node->capacity) {
        const bool dense = node->capacity >= kSparseLimit;
        Node* grown = NewNode(dense ? 256 : static_cast<uint16_t>(2 * node->capacity + 1), dense);
        for (uint16_t i = 0; i < node->used; ++i) {
            if (dense)
                grown->Slots()[bytes[i]] = node->Slots()[i];
            else
                grown->Slots()[i] = node->Slots()[i];
        }
        if (!dense) {
            std::memcpy(grown->Bytes(), bytes, node->used);
            grown->used = node->used;
        }
        FreeNode(node);
        node = grown;
        if (dense) return node->Slots()[b];
        bytes = node->Bytes();
    }
    Slot* slots = node->Slots();
    std::memmove(slots + at + 1, slots + at, (node->used - at) * sizeof(Slot));
    std::memmove(bytes + at + 1, bytes + at, node->used - at);
    bytes[at] = static_cast<uint8_t>(b);
    ++node->used;
    return *new (slots + at) Slot;
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

uint32_t TSST2::Key(std::span<const uint8_t> bytes) {
    // zlib's CRC-32 inverts before and after; inverting its result undoes the final inversion.
    return ~static_cast<uint32_t>(crc32(0, bytes.data(), static_cast<uInt>(bytes.size())));
}

bool TSST2::Matches(const TSSTEntry* e, std::span<const uint8_t> bytes, uint16_t chars, uint8_t type) {
    // The type takes part: "a" + U+0000 in bytes and "a" in 16-bit units have the same bytes.
    // An empty text may come without any bytes at all, which memcmp must not be given.
    return e->char_count_ == chars && (e->type_ & ~kSSTExtended) == (type & ~kSSTExtended) &&
           e->KeyBytes() == bytes.size() &&
           (bytes.empty() || std::memcmp(e->Data(), bytes.data(), bytes.size()) == 0);
}

TSSTEntry* TSST2::Add(std::u16string_view text) {
    return AddEntry(text, false, {}, {});
}

TSSTEntry* TSST2::AddEntry(std::u16string_view text, bool force_wide, std::span<const TSSTRun> runs,
                           std::span<const uint8_t> extended) {
    if (text.size() > 0xFFFF) throw std::length_error("Text longer than 65535 characters");
    if (runs.size() > 0xFFFF) throw std::length_error("More than 65535 formatting runs");
    bool wide = force_wide;
    for (char16_t c : text) wide = wide || c > 0xFF;
    scratch_.clear();
    for (char16_t c : text) {
        scratch_.push_back(static_cast<uint8_t>(c));
        if (wide) scratch_.push_back(static_cast<uint8_t>(c >> 8));
    }
    for (const TSSTRun& r : runs)
        for (uint16_t v : {r.position, r.font}) {
            scratch_.push_back(static_cast<uint8_t>(v));
            scratch_.push_back(static_cast<uint8_t>(v >> 8));
        }
    const uint8_t type =
        (wide ? kSSTWide : 0) | (runs.empty() ? 0 : kSSTRuns) | (extended.empty() ? 0 : kSSTExtended);
    return Insert(scratch_, static_cast<uint16_t>(text.size()), type, static_cast<uint16_t>(runs.size()),
                  extended, Key(scratch_));
}

TSSTEntry* TSST2::AddStored(std::span<const uint8_t> chars_and_runs, uint16_t char_count, bool wide,
                            uint16_t run_count, std::span<const uint8_t> extended) {
    if (chars_and_runs.size() != size_t{char_count} * (wide ? 2 : 1) + size_t{run_count} * 4)
        throw std::invalid_argument("Shared string bytes do not match their counts");
    const uint8_t type =
        (wide ? kSSTWide : 0) | (run_count ? kSSTRuns : 0) | (extended.empty() ? 0 : kSSTExtended);
    return Insert(chars_and_runs, char_count, type, run_count, extended, Key(chars_and_runs));
}

TSSTEntry* TSST2::Insert(std::span<const uint8_t> bytes, uint16_t chars, uint8_t type, uint16_t runs,
                         std::span<const uint8_t> extended, uint32_t key) {
    Node** node = &root_;
    int depth = 0;
    Slot* slot = (*node)->Find(KeyByte(key, depth));
    while (slot && slot->Inner()) {
        node = &slot->child;
        slot = (*node)->Find(KeyByte(key, ++depth));
    }
    TSSTEntry* found = nullptr;
    if (slot && slot->Size() > kLongChain) {
        if (const auto it = colliding_.find(TProbe{bytes, chars, type}); it != colliding_.end()) found = *it;
    } else if (slot && slot->count) {
        Chained one;
        const Chained* items = slot->Items(one);
        for (uint32_t i = 0; i < slot->count; ++i)
            if (items[i].key == key && Matches(items[i].entry, bytes, chars, type)) {
                found = items[i].entry;
                break;
            }
    }
    ++ref_total_;
    if (found) {
        ++found->use_count_;
        return found;
    }
    const size_t tail = extended.empty() ? 0 : 4 + extended.size();
    TSSTEntry* e =
        new (pool_.allocate(TSSTEntry::BlockBytes(bytes.size() + tail), alignof(TSSTEntry))) TSSTEntry;
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
    Place(*node, depth, {key, e});
    // The last level's chains are the only ones that grow long, and only with keys that collide.
    if (depth == kLastDepth) {
        const Slot& last = *(*node)->Find(KeyByte(key, depth));
        if (last.Size() == kLongChain + 1) {
            for (uint32_t i = 0; i < last.count; ++i) colliding_.insert(last.chain->Items()[i].entry);
        } else if (last.Size() > kLongChain + 1) {
            colliding_.insert(e);
        }
    }
    ++count_;
    return e;
}

void TSST2::Place(Node*& node, int depth, Chained entry) {
    Slot& slot = FindOrAdd(node, KeyByte(entry.key, depth));
    if (slot.Inner()) {
        Place(slot.child, depth + 1, entry);
        return;
    }
    const uint32_t count = slot.count;
    if (count == 0) {
        slot.count = 1;
        slot.key = entry.key;
        slot.single = entry.entry;
        return;
    }
    if (count < kChainLimit || depth >= kLastDepth) {
        if (count == 1 || count == slot.chain->capacity) {
            // Only the last level's chains outgrow the limit, and only with keys that collide.
            Chain* grown = NewChain(2 * count);
            Chained one;
            std::memcpy(grown->Items(), slot.Items(one), count * sizeof(Chained));
            if (count > 1) FreeChain(slot.chain);
            slot.chain = grown;
        }
        slot.chain->Items()[slot.count++] = entry;
        return;
    }
    // The ninth entry: the slot becomes an inner node. Re-placing oldest first keeps every
    // chain newest first. The new node is another block: this slot stays put.
    Chained chain[kChainLimit];
    std::memcpy(chain, slot.chain->Items(), sizeof chain);
    FreeChain(slot.chain);
    slot.count = Slot::kInner;
    slot.child = NewNode(kFirstSlots, false);
    for (const Chained& c : chain) Place(slot.child, depth + 1, c);
    Place(slot.child, depth + 1, entry);
}

void TSST2::AddLoaded(TSSTEntry* entry) {
    const auto place = static_cast<uint32_t>(loaded_.size());
    const bool again = entry->index_ < place && loaded_[entry->index_] == entry;
    if (again && first_.empty()) {
        first_.reserve(loaded_.capacity());
        for (uint32_t i = 0; i < place; ++i) first_.push_back(i);
    }
    if (!again) entry->index_ = place;
    if (!first_.empty()) first_.push_back(entry->index_);
    loaded_.push_back(entry);
    pending_.push_back(0);
}

void TSST2::ApplyLoadedReferences(TSSTEntry* entry) {
    const uint32_t place = entry->index_;
    if (place >= loaded_.size() || loaded_[place] != entry) return;
    entry->use_count_ += pending_[place];
    pending_[place] = 0;
}

void TSST2::ClearLoadIndex() {
    // An entry freed during the load had its references applied first: only live entries have
    // any left here.
    for (size_t i = 0; i < loaded_.size(); ++i)
        if (pending_[i]) loaded_[i]->use_count_ += pending_[i];
    loaded_ = {};
    pending_ = {};
    first_ = {};
}

void TSST2::Release(TSSTEntry* entry) {
    if (!entry) return;
    if (!loaded_.empty()) ApplyLoadedReferences(entry);
    if (--entry->use_count_ > 0) return;
    const uint32_t key = Key({entry->Data(), entry->KeyBytes()});
    Slot* slot = root_->Find(KeyByte(key, 0));
    for (int depth = 1; slot && slot->Inner(); ++depth) slot = slot->child->Find(KeyByte(key, depth));
    if (slot && slot->count == 1 && slot->single == entry) {
        *slot = Slot();
    } else if (slot && slot->count > 1) {
        Chain* c = slot->chain;
        Chained* items = c->Items();
        for (uint32_t i = 0; i < slot->count; ++i) {
            if (items[i].entry != entry) continue;
            std::memmove(items + i, items + i + 1, (slot->count - i - 1) * sizeof(Chained));
            if (--slot->count == 1) {
                slot->key = items[0].key;
                slot->single = items[0].entry;
                FreeChain(c);
            }
            break;
        }
    }
    if (!colliding_.empty()) colliding_.erase(entry);
    FreeEntry(entry);
    --count_;
    if (ref_total_ > 0) --ref_total_;
}

void TSST2::Clear() {
    colliding_.clear();
    pool_.release();
    root_ = NewNode(256, true);
    count_ = 0;
    ref_total_ = 0;
    loaded_ = {};
    pending_ = {};
    first_ = {};
    ext_sst_.clear();
}

std::u16string TSST2::Text(const TSSTEntry* entry) {
    std::u16string text(entry->CharCount(), u'\0');
    for (size_t i = 0; i < text.size(); ++i) text[i] = entry->Char(i);
    return text;
}

}  // namespace linograf::workbook
