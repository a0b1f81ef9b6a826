#pragma once
// The shared string table (SST): every distinct text of a workbook stored once, with a use count,
// found again through a hash trie keyed by CRC-32 of the stored bytes. Text cells point at their
// entry; the BIFF8 writer numbers the entries in trie order at every write.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace linograf::workbook {

struct TSSTRun {
    uint16_t position;  // first character the run applies to
    uint16_t font;      // font list position
};

// Entry type codes, as the option byte of an SST string.
inline constexpr uint8_t kSSTWide = 0x01;     // characters stored as 16-bit units
inline constexpr uint8_t kSSTExtended = 0x04; // phonetic data (kept from read files)
inline constexpr uint8_t kSSTRuns = 0x08;     // formatting runs

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

    TSSTEntry* next_ = nullptr;  // the chain of a trie slot, newest first
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
    // Drops one reference; the entry is freed when none is left.
    void Release(TSSTEntry* entry);
    // Raises the use count of an entry a reader points another cell at.
    void AddReference(TSSTEntry* entry) { ++entry->use_count_; }

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

    // Readers: entries in file order, so LABELSST index n finds the n-th string of the file.
    void AddLoaded(TSSTEntry* entry) { loaded_.push_back(entry); }
    TSSTEntry* LoadedEntry(uint32_t index) const { return index < loaded_.size() ? loaded_[index] : nullptr; }
    void ClearLoadIndex() { loaded_ = {}; }

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
    // A slot holds nothing, a chain (an entry pointer) or, tagged with bit 0, an inner node.
    using Slot = uintptr_t;
    struct Node {
        Slot slots[256] = {};
    };
    static constexpr int kChainLimit = 8;
    // Inner levels use successive bytes of the key; a chain below the fourth level holds entries
    // with identical keys, which no further level could tell apart.
    static constexpr int kLastDepth = 3;

    TSSTEntry* Insert(std::span<const uint8_t> bytes, uint16_t chars, uint8_t type, uint16_t runs,
                      std::span<const uint8_t> tail);
    static bool Matches(const TSSTEntry* e, std::span<const uint8_t> bytes, uint16_t chars, uint8_t type);
    void Place(Node* node, int depth, uint32_t key, TSSTEntry* entry);
    static void FreeNode(Node* node);
    static Node* AsNode(Slot s) { return reinterpret_cast<Node*>(s & ~Slot{1}); }
    static bool IsNode(Slot s) { return (s & 1) != 0; }

    template <typename F>
    static void Walk(const Node* node, F& visit) {
        // The entries lie scattered over the heap in key order; asking for the chains a few
        // slots ahead overlaps their cache misses instead of waiting for each in turn.
        constexpr int kAhead = 8;
        for (int i = 0; i < 256; ++i) {
            if (i + kAhead < 256) {
                const Slot ahead = node->slots[i + kAhead];
                if (ahead != 0 && !IsNode(ahead)) __builtin_prefetch(reinterpret_cast<const void*>(ahead), 1);
            }
            const Slot s = node->slots[i];
            if (s == 0) continue;
            if (IsNode(s)) {
                Walk(AsNode(s), visit);
            } else {
                for (TSSTEntry* e = reinterpret_cast<TSSTEntry*>(s); e; e = e->next_) visit(e);
            }
        }
    }

    // Inner nodes come from chunks that are freed together; the large ones are backed by huge
    // pages where the system offers them, so a lookup in a big table costs one memory access
    // per level instead of a page walk on top.
    Node* NewNode();
    void FreeNodes();
    std::vector<std::pair<void*, size_t>> chunks_;
    size_t chunk_used_ = 0;

    Node* root_;
    size_t count_ = 0;
    uint32_t ref_total_ = 0;
    int record_limit_ = 8224;
    std::vector<TSSTEntry*> loaded_;
    std::vector<TExtSSTBucket> ext_sst_;
    std::vector<uint8_t> scratch_;
};

}  // namespace linograf::workbook
