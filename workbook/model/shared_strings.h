#pragma once
// The shared string table (SST): every distinct text of a workbook stored once, with a use count,
// found again through a hash trie keyed by CRC-32 of the stored bytes. Text cells point at their
// entry; the BIFF8 writer numbers the entries in trie order at every write.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "workbook/model/huge_page_memory.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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
    uint8_t* Data() { return reinterpret_cast<uint8_t*>(this + 1); }
    const uint8_t* Data() const { return reinterpret_cast<const uint8_t*>(this + 1); }
    size_t KeyBytes() const { return size_t{char_count_} * (Wide() ? 2 : 1) + size_t{run_count_} * 4; }

    uint32_t index_ = 0;
    uint32_t use_count_ = 0;
    uint16_t char_count_ = 0;
    uint8_t type_ = 0;
    uint16_t run_count_ = 0;
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
                         uint16_t run_count, std::span<const uint8_t> extended) {
        return AddStored(chars_and_runs, char_count, wide, run_count, extended, Key(chars_and_runs));
    }
    // The same when the caller has taken key = Key(chars_and_runs) already, for Prefetch.
    TSSTEntry* AddStored(std::span<const uint8_t> chars_and_runs, uint16_t char_count, bool wide,
                         uint16_t run_count, std::span<const uint8_t> extended, uint32_t key);
    // Asks for what adding a text of this key will read at the given level below the root,
    // reading the levels above it, which an earlier call should have brought into the cache.
    // A reader adding many texts in no order of the table's asks for a batch of them level by
    // level before adding them, so that their cache misses overlap instead of each waiting for
    // the one before.
    void Prefetch(uint32_t key, int depth) const;
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
        Walk(root_, visit);
    }

    // Readers: entries in file order, so string n of the file's table is found by its index.
    void AddLoaded(TSSTEntry* entry);
    // Room for this many entries in the load index, when the reader knows how many will come.
    void ReserveLoaded(size_t count) { loaded_.reserve(loaded_.size() + count); }
    TSSTEntry* LoadedEntry(uint32_t index) const {
        return index < loaded_.size() ? loaded_[index].Entry() : nullptr;
    }
    // A cell of the file takes string n: its reference is counted beside the load index and
    // reaches the entry when the index goes (or before the entry could be freed), since the
    // cells of a big file point at their strings in no particular order and raising each
    // entry's count on the spot would cost a miss in main memory per cell. Null when the file
    // has no string n.
    TSSTEntry* ReferenceLoaded(uint32_t index) {
        if (index >= loaded_.size()) return nullptr;
        TLoaded& l = loaded_[index];
        const uint32_t pending = l.References();
        if (pending < kMostPending) {
            l.bits += TLoaded::kOne;
        } else if (pending == kCountedOnEntry) {
            ++l.Entry()->use_count_;
        } else {
            l.Entry()->use_count_ += pending + 1;
            l.bits &= TLoaded::kAddress;
        }
        return l.Entry();
    }
    // Asks for string n's place in the load index ahead of ReferenceLoaded(n).
    void PrefetchLoaded(uint32_t index) const {
        if (index < loaded_.size()) __builtin_prefetch(&loaded_[index], 1);
    }
    // Ends the load: the counted references go to their entries.
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
    // A link is a slot of an inner node or of a chain. It holds nothing (0), an inner node (bit 0
    // set; bit 1 set for a small one), a chain of entries (bit 1 alone), or one entry with, beside
    // its address, the high 16 bits of the entry's key (bits 48..63). A lookup of a text that is
    // not there thus reads no entry at all, only the links of its chain, except for the rare one
    // whose tag matches: in a big table the entries are the cache misses that count.
    using Link = uintptr_t;
    // An inner node with all its 256 slots. Left uninitialised here: NewNode clears what is not
    // known to be zero already.
    struct Node {
        Link slots[256];
    };
    // An inner node as long as few of its slots hold anything: those slots with their key bytes,
    // in ascending order. A table of a few hundred thousand texts splits most of its second-level
    // slots, each into a node of 9 to 20 entries: full nodes would be mostly empty slots, several
    // times the memory of the entries, all of it cleared by the system and walked at every write.
    static constexpr unsigned kSmallSlots = 32;
    struct SmallNode {
        uint8_t count;
        uint8_t bytes[kSmallSlots];
        Link slots[kSmallSlots];
    };
    // The entries of a slot that holds more than one: their links, oldest first, in one block, so
    // that a lookup costs one memory access for the whole chain. Followed by `capacity` links.
    struct Chain {
        uint32_t count;
        uint32_t capacity;
        Link* Links() { return reinterpret_cast<Link*>(this + 1); }
        const Link* Links() const { return reinterpret_cast<const Link*>(this + 1); }
    };
    static constexpr Link kNodeBit = 1;
    static constexpr Link kSmallBit = 2;  // of a node link
    static constexpr Link kChainBit = 2;  // of a link that is no node
    static constexpr int kTagShift = 48;
    static constexpr Link kAddressMask = (Link{1} << kTagShift) - 1 - kNodeBit - kChainBit;
    static constexpr uint32_t kChainLimit = 8;
    static constexpr uint32_t kFirstChainCapacity = kChainLimit;
    // Inner levels use successive bytes of the key; a chain below the fourth level holds entries
    // with identical keys, which no further level could tell apart.
    static constexpr int kLastDepth = 3;

    static Node* AsNode(Link l) { return reinterpret_cast<Node*>(l & kAddressMask); }
    static SmallNode* AsSmall(Link l) { return reinterpret_cast<SmallNode*>(l & kAddressMask); }
    static Chain* AsChain(Link l) { return reinterpret_cast<Chain*>(l & kAddressMask); }
    static bool IsNode(Link l) { return (l & kNodeBit) != 0; }
    static bool IsSmall(Link node) { return (node & kSmallBit) != 0; }
    static bool IsChain(Link l) { return (l & (kNodeBit | kChainBit)) == kChainBit; }
    static TSSTEntry* AsEntry(Link l) { return reinterpret_cast<TSSTEntry*>(l & kAddressMask); }
    static uint16_t Tag(uint32_t key) { return static_cast<uint16_t>(key >> 16); }
    static uint16_t TagOf(Link entry) { return static_cast<uint16_t>(entry >> kTagShift); }
    static Link EntryLink(TSSTEntry* e, uint32_t key) {
        return reinterpret_cast<Link>(e) | (Link{Tag(key)} << kTagShift);
    }
    // The slot of key byte b in a node, or null when a small node has none for it.
    static Link* FindSlot(Link node, unsigned b) {
        if (!IsSmall(node)) return &AsNode(node)->slots[b];
        SmallNode* n = AsSmall(node);
        const int i = SmallIndex(n, b);
        return i >= 0 ? &n->slots[i] : nullptr;
    }
    // The position of key byte b among a small node's bytes, or -1. Compared all at once where
    // the processor can: a loop stopping at a random place costs a mispredicted branch per
    // lookup, more than the comparisons.
    static int SmallIndex(const SmallNode* n, unsigned b) {
#if defined(__SSE2__)
        static_assert(kSmallSlots == 32, "two 16-byte compares cover the bytes");
        const __m128i want = _mm_set1_epi8(static_cast<char>(b));
        const auto* bytes = reinterpret_cast<const __m128i*>(n->bytes);
        const uint32_t lo = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_loadu_si128(bytes), want)));
        const uint32_t hi =
            static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_loadu_si128(bytes + 1), want)));
        const uint32_t in_use = n->count >= 32 ? 0xFFFFFFFFu : (uint32_t{1} << n->count) - 1;
        const uint32_t hits = (lo | (hi << 16)) & in_use;
        return hits ? __builtin_ctz(hits) : -1;
#else
        for (unsigned i = 0; i < n->count; ++i)
            if (n->bytes[i] == b) return static_cast<int>(i);
        return -1;
#endif
    }
    // The same, making the slot when there is none; a small node that has no room left becomes
    // a full one, and node_link, the link to it, follows.
    Link* AddSlot(Link& node_link, unsigned b);

    TSSTEntry* Insert(std::span<const uint8_t> bytes, uint16_t chars, uint8_t type, uint16_t runs,
                      std::span<const uint8_t> tail, uint32_t key);
    static bool Matches(const TSSTEntry* e, std::span<const uint8_t> bytes, uint16_t chars, uint8_t type);
    void Place(Link& node_link, int depth, uint32_t key, Link entry);
    Chain* NewChain(uint32_t capacity);
    void FreeChain(Chain* chain);

    template <typename F>
    static void Walk(Link node, F& visit) {
        // Entries lie in the heap in the order they were made, not in key order. They are
        // handed out through a short queue, asked for when they enter it, so the cache misses
        // of the next entries overlap the work on this one instead of waiting for each in turn.
        constexpr size_t kAhead = 32;
        TSSTEntry* queue[kAhead];
        size_t queued = 0, next = 0;
        auto push = [&](TSSTEntry* e) {
            // A short entry may run into the next cache line: ask for that one too.
            __builtin_prefetch(e, 1);
            __builtin_prefetch(reinterpret_cast<const char*>(e) + 63, 0);
            if (queued == kAhead) {
                visit(queue[next]);
                queue[next] = e;
                next = (next + 1) % kAhead;
            } else {
                queue[queued++] = e;
            }
        };
        WalkNode(node, push);
        for (size_t i = 0; i < queued; ++i) visit(queue[(next + i) % queued]);
    }
    template <typename F>
    static void WalkNode(Link node, F& push) {
        if (IsSmall(node)) {
            const SmallNode* n = AsSmall(node);
            for (unsigned i = 0; i < n->count; ++i) WalkSlot(n->slots[i], push);
        } else {
            for (const Link s : AsNode(node)->slots) WalkSlot(s, push);
        }
    }
    template <typename F>
    static void WalkSlot(Link s, F& push) {
        if (s == 0) return;
        if (IsNode(s)) {
            WalkNode(s, push);
        } else if (IsChain(s)) {
            const Chain* c = AsChain(s);
            for (uint32_t i = c->count; i-- > 0;) push(AsEntry(c->Links()[i]));
        } else {
            push(AsEntry(s));
        }
    }

    // Inner nodes and entries live in chunks that are freed together; once a table has grown
    // past its first chunk the chunks are 2 MB and backed by huge pages where the system offers
    // them, so a lookup in a big table costs one memory access per level instead of a page walk
    // on top. A freed entry's block goes on a free list by size for the next entry of that size;
    // texts too long for the lists get blocks of their own.
    void* Allocate(size_t bytes);
    // A block of size bytes (a multiple of kGranule): from its free list, the current chunk, or,
    // past kLargestListed, of its own.
    void* AllocateBlock(size_t size);
    static size_t BlockSize(size_t bytes);
    static size_t BlockSize(const TSSTEntry* e);
    Node* NewNode();
    SmallNode* NewSmallNode();
    void FreeBlock(void* block, size_t size);
    void FreeAll();
    static constexpr size_t kGranule = 8;
    static constexpr size_t kLargestListed = 1024;
    std::vector<std::pair<void*, size_t>> chunks_;
    size_t chunk_used_ = 0;
    bool chunk_zeroed_ = false;  // the last chunk came from the system as zeros
    std::vector<void*> free_lists_ = std::vector<void*>(kLargestListed / kGranule + 1, nullptr);
    std::unordered_set<void*> large_;

    Link root_;  // always a full node
    size_t count_ = 0;
    uint32_t ref_total_ = 0;
    int record_limit_ = 8224;
    // A place of the load index: the entry's address (below 2^48, as for links) and, in the top
    // 16 bits, the references counted for it so far. Eight bytes, so that the index of a big
    // table takes half the cache it would as a pair.
    struct TLoaded {
        static constexpr int kShift = 48;
        static constexpr uint64_t kOne = uint64_t{1} << kShift;
        static constexpr uint64_t kAddress = kOne - 1;
        uint64_t bits;
        TSSTEntry* Entry() const { return reinterpret_cast<TSSTEntry*>(bits & kAddress); }
        uint32_t References() const { return static_cast<uint32_t>(bits >> kShift); }
    };
    // A string the file holds twice has its references counted on the entry for its second
    // place, so that each entry has its pending count in one place only: its index_. A count
    // that would pass kMostPending goes to the entry and starts again from zero.
    static constexpr uint32_t kCountedOnEntry = 0xFFFF;
    static constexpr uint32_t kMostPending = 0xFFFE;
    static TLoaded Loaded(TSSTEntry* entry, uint32_t references) {
        return {reinterpret_cast<uintptr_t>(entry) | (uint64_t{references} << TLoaded::kShift)};
    }
    void ApplyLoadedReferences(TSSTEntry* entry);
    std::vector<TLoaded, THugePageAllocator<TLoaded>> loaded_;
    std::vector<TExtSSTBucket> ext_sst_;
    std::vector<uint8_t> scratch_;

    // The entries of a last-level chain hold one key; a file made of texts built to share it
    // would make every lookup a walk along all of them. Beyond kLongChain entries such a chain
    // is searched through this set instead, by a second hash of the bytes.
    static constexpr uint32_t kLongChain = 32;
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
