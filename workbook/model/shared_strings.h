#pragma once
// The shared string table (SST): every distinct text of a workbook stored once, with a use count,
// found again through a hash trie keyed by CRC-32 of the stored bytes. Text cells point at their
// entry; the BIFF8 writer numbers the entries in trie order at every write.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <memory_resource>
#include <span>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace linograf::workbook {

struct TSSTRun {
    uint16_t position;  // first character the run applies to
    uint16_t font;      // font list position
};

// Entry type codes, as the option byte of an SST string.
inline constexpr uint8_t kSSTWide = 0x01;      // characters stored as 16-bit units
inline constexpr uint8_t kSSTExtended = 0x04;  // phonetic data (kept from read files)
inline constexpr uint8_t kSSTRuns = 0x08;      // formatting runs

// One variable-length block: this header, then the characters (one byte each for type 0, two for
// type 1), the formatting runs (4 bytes each), and for types with phonetic data its size (u32)
// followed by the data.
class TSSTEntry {
  public:
    // Position in the SST record of the last write.
    uint32_t Index() const { return index_; }
    void SetIndex(uint32_t index) { index_ = index; }
    uint32_t UseCount() const { return use_count_; }
    uint16_t CharCount() const { return char_count_; }
    uint8_t Type() const { return type_; }
    uint16_t RunCount() const { return run_count_; }
    bool Wide() const { return (type_ & kSSTWide) != 0; }

    // The characters as stored: CharCount() bytes, or 2 × CharCount() for wide entries.
    std::span<const uint8_t> CharBytes() const;
    TSSTRun Run(int i) const;
    std::span<const uint8_t> Extended() const;
    char16_t Char(size_t i) const;

  private:
    friend class TSST2;
    TSSTEntry() = default;
    // The data follow the fields directly, not the padding after them: a text of 17 8-bit
    // characters then takes one of the pool's 32-byte blocks instead of a 48-byte one.
    static constexpr size_t kDataAt = 13;
    static size_t BlockBytes(size_t data) { return std::max(sizeof(TSSTEntry), kDataAt + data); }
    uint8_t* Data() { return reinterpret_cast<uint8_t*>(this) + kDataAt; }
    const uint8_t* Data() const { return reinterpret_cast<const uint8_t*>(this) + kDataAt; }
    size_t KeyBytes() const { return size_t{char_count_} * (Wide() ? 2 : 1) + size_t{run_count_} * 4; }

    uint32_t index_ = 0;
    uint32_t use_count_ = 0;
    uint16_t char_count_ = 0;
    uint16_t run_count_ = 0;
    uint8_t type_ = 0;
};

struct TExtSSTBucket {
    uint32_t position;  // stream position of the bucket's first string
    uint16_t offset;    // its offset from the start of the record holding it
};

class TSST2 {
  public:
    TSST2();
    ~TSST2();
    TSST2(const TSST2&) = delete;
    TSST2& operator=(const TSST2&) = delete;

    // Adds one reference to a text: an equal entry has its use count raised, otherwise a new
    // entry is made (8-bit characters when every character fits in a byte).
    TSSTEntry* Add(std::u16string_view text);
    // The readers' form: forced 16-bit storage, formatting runs and phonetic data as read.
    TSSTEntry* AddEntry(std::u16string_view text, bool force_wide, std::span<const TSSTRun> runs,
                        std::span<const uint8_t> extended);
    // The same from the bytes as a BIFF8 SST string stores them: the characters (one byte each,
    // or two little-endian bytes each when wide), then run_count formatting runs of 4 bytes.
    // Narrow bytes are Latin-1 characters, as in the file.
    TSSTEntry* AddStored(std::span<const uint8_t> chars_and_runs, uint16_t char_count, bool wide,
                         uint16_t run_count, std::span<const uint8_t> extended);
    // Drops one reference; the entry is freed when none is left.
    void Release(TSSTEntry* entry);

    static std::u16string Text(const TSSTEntry* entry);

    void Clear();
    // Number of distinct entries.
    size_t Count() const { return count_; }
    // The total number of references, written as the SST record's total count. A read file's
    // value replaces it.
    uint32_t RefTotal() const { return ref_total_; }
    void SetRefTotal(uint32_t total) { ref_total_ = total; }

    // Visits the entries in trie order (root slots 0..255, inner nodes in place, each chain from
    // its newest entry): the order the SST record is written in.
    template <typename F>
    void ForEach(F&& visit) const {
        Walk(*root_, visit);
    }

    // Readers: entries in file order, so string n of the file's table is found by its index.
    void AddLoaded(TSSTEntry* entry);
    // Room for this many entries in the load index, when the reader knows how many will come.
    void ReserveLoaded(size_t count) {
        loaded_.reserve(loaded_.size() + count);
        pending_.reserve(pending_.size() + count);
    }
    TSSTEntry* LoadedEntry(uint32_t index) const { return index < loaded_.size() ? loaded_[index] : nullptr; }
    // A cell of the file takes string n: one more reference to it, counted beside the load index
    // until the load ends (or the entry is released before). The cells of a big file name their
    // strings in no order of the table's, and a count on the entry itself would cost a miss in
    // main memory per cell, a quarter of reading the file. Null when the file has no string n.
    TSSTEntry* ReferenceLoaded(uint32_t index) {
        if (index >= loaded_.size()) return nullptr;
        CountLoaded(index);
        return loaded_[index];
    }
    // The count of ReferenceLoaded alone, for a string n the load has.
    void CountLoaded(uint32_t index) { ++pending_[first_.empty() ? index : first_[index]]; }
    size_t LoadedCount() const { return loaded_.size(); }
    // Ends the load: the counted references go to their entries. Every reader calls it however
    // its read ends, before anything else can renumber or free the entries.
    void ClearLoadIndex();

    // The EXTSST buckets of the last write.
    std::vector<TExtSSTBucket>& ExtSST() { return ext_sst_; }
    // The record data limit of the workbook's version (8224 for BIFF8).
    int RecordLimit() const { return record_limit_; }
    void SetRecordLimit(int limit) { record_limit_ = limit; }

    // CRC-32 with the reflected polynomial 0xEDB88320, initial value 0xFFFFFFFF and no final
    // inversion.
    static uint32_t Key(std::span<const uint8_t> bytes);

  private:
    struct Node;
    // An entry of a chain with its key, so that a lookup reads only the entries whose key is
    // the one it looks for.
    struct Chained {
        uint32_t key;
        TSSTEntry* entry;
    };
    // The entries of a slot holding two or more, oldest first (the walk takes them from the
    // newest), in one block: `capacity` of them follow this header.
    struct alignas(Chained) Chain {
        uint32_t capacity;
        Chained* Items() { return reinterpret_cast<Chained*>(this + 1); }
        const Chained* Items() const { return reinterpret_cast<const Chained*>(this + 1); }
    };
    // One of a node's 256 slots, chosen by one byte of the key: empty, one entry held in the
    // slot itself, a chain of entries, or an inner node one level down. Most slots below the
    // first level hold a single entry, which then needs no block of its own.
    struct Slot {
        static constexpr uint32_t kInner = 0xFFFFFFFF;
        uint32_t count = 0;  // entries in the slot, or kInner
        uint32_t key = 0;    // the single entry's key
        union {
            TSSTEntry* single;
            Chain* chain;
            Node* child;
        };
        Slot() : single(nullptr) {}
        bool Inner() const { return count == kInner; }
        size_t Size() const { return Inner() ? 0 : count; }
        // The slot's entries, oldest first; `one` holds a single entry for the view.
        const Chained* Items(Chained& one) const {
            one = {key, single};
            return count == 1 ? &one : chain->Items();
        }
    };
    // A node's slots in one block after this header. A node keeps only the slots in use, in
    // ascending order of their key byte, while they are few: a table of half a million texts
    // splits tens of thousands of second-level slots into nodes of 9 to 20 entries, and with all
    // 256 slots each they would take several times the memory of the texts, all of it walked at
    // every write of the live log. Past kSparseLimit slots a node keeps all 256, found by the
    // byte itself: a dense node filled in no order of its bytes would otherwise move half its
    // slots at every new one. Either way the slots lie in the order of their bytes, which is the
    // order of the walk. A sparse node's key bytes follow its slots.
    struct alignas(Slot) Node {
        uint16_t used;
        uint16_t capacity;
        bool dense;
        Slot* Slots() { return reinterpret_cast<Slot*>(this + 1); }
        const Slot* Slots() const { return reinterpret_cast<const Slot*>(this + 1); }
        uint8_t* Bytes() { return reinterpret_cast<uint8_t*>(Slots() + capacity); }
        static size_t BlockBytes(size_t capacity, bool dense) {
            return sizeof(Node) + capacity * sizeof(Slot) + (dense ? 0 : capacity);
        }
        Slot* Find(unsigned b);
    };
    // A new sparse node has room for the 9 entries of the slot it replaces and a few more. The
    // sizes grow as 14, 29, 59 slots: blocks just under 256, 512 and 1024 bytes, sizes the pool
    // keeps blocks of, so that little of each block is left unused.
    static constexpr uint16_t kFirstSlots = 14;
    static constexpr uint16_t kSparseLimit = 59;
    static constexpr size_t kChainLimit = 8;
    // Inner levels use successive bytes of the key; a chain at the fourth level holds entries
    // with identical keys, which no further level could tell apart, and is not limited.
    static constexpr int kLastDepth = 3;
    static unsigned KeyByte(uint32_t key, int depth) { return (key >> (8 * depth)) & 0xFF; }

    TSSTEntry* Insert(std::span<const uint8_t> bytes, uint16_t chars, uint8_t type, uint16_t runs,
                      std::span<const uint8_t> extended, uint32_t key);
    static bool Matches(const TSSTEntry* e, std::span<const uint8_t> bytes, uint16_t chars, uint8_t type);
    void Place(Node*& node, int depth, Chained entry);
    // The slot of byte b, added in its place when missing; the node's block may move.
    Slot& FindOrAdd(Node*& node, unsigned b);
    void FreeEntry(TSSTEntry* e);
    Node* NewNode(uint16_t capacity, bool dense);
    void FreeNode(Node* node);
    Chain* NewChain(uint32_t capacity);
    void FreeChain(Chain* chain);

    template <typename F>
    static void Walk(const Node& node, F& visit) {
        const Slot* slots = node.Slots();
        for (uint16_t i = 0; i < node.used; ++i) {
            const Slot& s = slots[i];
            if (s.Inner()) {
                Walk(*s.child, visit);
            } else if (s.count) {
                Chained one;
                const Chained* items = s.Items(one);
                for (uint32_t k = s.count; k-- > 0;) visit(items[k].entry);
            }
        }
    }

    // Entries, chains and nodes come from one pool, freed all at once by Clear (inner nodes are
    // never taken out of the trie, so they are freed one by one only when they grow).
    // A read makes a great many small blocks of a few sizes, and chains that grow by doubling
    // give back the blocks they outgrew: with the general heap, that churn cost as much as all
    // the rest of loading the table.
    std::pmr::unsynchronized_pool_resource pool_;
    Node* root_ = nullptr;
    size_t count_ = 0;
    uint32_t ref_total_ = 0;
    int record_limit_ = 8224;
    // The load index: the entry of each place and the references counted for it. A text the
    // file holds twice has its references counted at its first place, so that a release finds
    // all of them through the entry's index_, which holds that place during the load. Only a
    // file with such a text needs `first_`, each place's first place; it stays empty until then.
    void ApplyLoadedReferences(TSSTEntry* entry);
    std::vector<TSSTEntry*> loaded_;
    std::vector<uint32_t> pending_;
    std::vector<uint32_t> first_;
    std::vector<TExtSSTBucket> ext_sst_;
    std::vector<uint8_t> scratch_;

    // The entries of a last-level chain hold one key; a file made of texts built to share it
    // would make every lookup a walk along all of them. Beyond kLongChain entries such a chain
    // is searched through this set instead, by a second hash of the bytes.
    static constexpr size_t kLongChain = 32;
    struct TProbe {
        std::span<const uint8_t> bytes;
        uint16_t chars;
        uint8_t type;
    };
    struct TCollisionHash {
        using is_transparent = void;
        size_t operator()(const TProbe& p) const;
        size_t operator()(const TSSTEntry* e) const;
    };
    struct TCollisionEqual {
        using is_transparent = void;
        // Entries of the table are never equal to each other: the address tells them apart.
        bool operator()(const TSSTEntry* a, const TSSTEntry* b) const { return a == b; }
        bool operator()(const TProbe& p, const TSSTEntry* e) const;
        bool operator()(const TSSTEntry* e, const TProbe& p) const { return (*this)(p, e); }
    };
    std::unordered_set<TSSTEntry*, TCollisionHash, TCollisionEqual> colliding_;
};

}  // namespace linograf::workbook
