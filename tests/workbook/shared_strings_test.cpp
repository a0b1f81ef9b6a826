#include "workbook/model/shared_strings.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace linograf::workbook {
namespace {

std::u16string Text(int n) {
    std::string s = "text-" + std::to_string(n);
    return std::u16string(s.begin(), s.end());
}

TEST(SharedStrings, KeyIsCrc32WithoutFinalInversion) {
    const std::string check = "123456789";
    std::vector<uint8_t> bytes(check.begin(), check.end());
    EXPECT_EQ(TSST2::Key(bytes), ~0xCBF43926u);
    EXPECT_EQ(TSST2::Key({}), 0xFFFFFFFFu);
    // Every length, short ones eight bytes at a time and long ones alike, agrees with zlib.
    std::vector<uint8_t> data(200);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 37 + 11);
    for (size_t length = 0; length <= data.size(); ++length)
        ASSERT_EQ(TSST2::Key({data.data(), length}),
                  ~static_cast<uint32_t>(crc32(0, data.data(), static_cast<uInt>(length))))
            << length;
}

TEST(SharedStrings, OneEntryForOneTextHowEverOftenItIsAdded) {
    TSST2 sst;
    TSSTEntry* first = sst.Add(u"same");
    for (int i = 1; i < 1000; ++i) ASSERT_EQ(sst.Add(u"same"), first);
    EXPECT_EQ(sst.Count(), 1u);
    EXPECT_EQ(first->UseCount(), 1000u);
    EXPECT_EQ(sst.RefTotal(), 1000u);

    for (int i = 0; i < 999; ++i) sst.Release(first);
    EXPECT_EQ(sst.Count(), 1u);
    EXPECT_EQ(first->UseCount(), 1u);
    sst.Release(first);
    EXPECT_EQ(sst.Count(), 0u);
    // A later add makes a fresh entry.
    EXPECT_EQ(sst.Add(u"same")->UseCount(), 1u);
}

TEST(SharedStrings, CharactersAreStoredInTheNarrowestForm) {
    TSST2 sst;
    struct Case {
        std::u16string text;
        uint8_t type;
        size_t bytes;
    };
    const Case cases[] = {
        {u"abc", 0, 3},     {u"caf\u00E9", 0, 4}, {u"\u0436\u0443\u0440\u043D\u0430\u043B", 1, 12},
        {u"a\u20AC", 1, 4}, {u"", 0, 0},
    };
    for (const Case& c : cases) {
        TSSTEntry* e = sst.Add(c.text);
        EXPECT_EQ(e->Type(), c.type);
        EXPECT_EQ(e->CharBytes().size(), c.bytes);
        EXPECT_EQ(TSST2::Text(e), c.text);
    }
    // The empty text is shared like any other.
    EXPECT_EQ(sst.Add(u""), sst.Add(u""));
    // "a" + U+0000 in single bytes is not "a" in 16-bit units, although the bytes agree.
    TSSTEntry* narrow = sst.Add(std::u16string(u"a\0", 2));
    TSSTEntry* wide = sst.AddEntry(u"a", true, {}, {});
    EXPECT_NE(narrow, wide);
    EXPECT_EQ(TSST2::Text(wide), u"a");
}

TEST(SharedStrings, StoredBytesFindTheEntryTheTextMade) {
    TSST2 sst;
    TSSTEntry* narrow = sst.Add(u"caf\u00E9");
    const uint8_t narrow_bytes[] = {'c', 'a', 'f', 0xE9};
    EXPECT_EQ(sst.AddStored(narrow_bytes, 4, false, 0, {}), narrow);
    TSSTEntry* wide = sst.Add(u"\u0436a");
    const uint8_t wide_bytes[] = {0x36, 0x04, 'a', 0};
    EXPECT_EQ(sst.AddStored(wide_bytes, 2, true, 0, {}), wide);
    const TSSTRun run{1, 5};
    TSSTEntry* formatted = sst.AddEntry(u"ab", false, {&run, 1}, {});
    const uint8_t formatted_bytes[] = {'a', 'b', 1, 0, 5, 0};
    EXPECT_EQ(sst.AddStored(formatted_bytes, 2, false, 1, {}), formatted);
    EXPECT_EQ(sst.Count(), 3u);
    EXPECT_EQ(sst.RefTotal(), 6u);
    // Counts that disagree with the bytes would make an entry read past its block.
    EXPECT_THROW(sst.AddStored(narrow_bytes, 5, false, 0, {}), std::invalid_argument);
    EXPECT_THROW(sst.AddStored(narrow_bytes, 4, true, 0, {}), std::invalid_argument);
}

TEST(SharedStrings, ReleasedTextsLeaveNothingBehind) {
    TSST2 sst;
    std::vector<TSSTEntry*> first;
    for (int i = 1000; i < 2000; ++i) first.push_back(sst.Add(Text(i)));
    for (TSSTEntry* e : first) sst.Release(e);
    EXPECT_EQ(sst.Count(), 0u);
    EXPECT_EQ(sst.RefTotal(), 0u);
    size_t visited = 0;
    sst.ForEach([&](const TSSTEntry*) { ++visited; });
    EXPECT_EQ(visited, 0u);
    // Other texts of the same lengths each keep their own characters, and a released text
    // added again is a new entry with one reference.
    for (int i = 2000; i < 3000; ++i) sst.Add(Text(i));
    for (int i = 2000; i < 3000; ++i) ASSERT_EQ(TSST2::Text(sst.Add(Text(i))), Text(i));
    EXPECT_EQ(sst.Count(), 1000u);
    TSSTEntry* again = sst.Add(Text(1500));
    EXPECT_EQ(again->UseCount(), 1u);
    EXPECT_EQ(TSST2::Text(again), Text(1500));
    EXPECT_EQ(sst.Count(), 1001u);
}

TEST(SharedStrings, ReaderEntriesKeepRunsPhoneticDataAndFileOrder) {
    TSST2 sst;
    const TSSTRun runs[] = {{0, 5}, {3, 6}};
    const uint8_t phonetic[] = {1, 2, 3};
    TSSTEntry* formatted = sst.AddEntry(u"bold", false, runs, phonetic);
    sst.AddLoaded(formatted);
    TSSTEntry* plain = sst.AddEntry(u"bold", false, {}, {});
    sst.AddLoaded(plain);
    EXPECT_NE(formatted, plain);
    EXPECT_EQ(formatted->Type(), kSSTRuns | kSSTExtended);
    EXPECT_EQ(formatted->RunCount(), 2);
    EXPECT_EQ(formatted->Run(1).position, 3);
    EXPECT_EQ(formatted->Run(1).font, 6);
    EXPECT_EQ(std::vector<uint8_t>(formatted->Extended().begin(), formatted->Extended().end()),
              std::vector<uint8_t>(std::begin(phonetic), std::end(phonetic)));
    EXPECT_EQ(sst.LoadedEntry(0), formatted);
    EXPECT_EQ(sst.LoadedEntry(1), plain);
    EXPECT_EQ(sst.LoadedEntry(2), nullptr);
}

TEST(SharedStrings, CellsOfAReadCountOnTheirStringsOnceTheLoadEnds) {
    TSST2 sst;
    // A file's table: "a", "b", and "a" again at place 2.
    for (const char16_t* t : {u"a", u"b", u"a"}) sst.AddLoaded(sst.AddEntry(t, false, {}, {}));
    TSSTEntry* a = sst.LoadedEntry(0);
    TSSTEntry* b = sst.LoadedEntry(1);
    ASSERT_EQ(sst.LoadedEntry(2), a);
    EXPECT_EQ(sst.ReferenceLoaded(3), nullptr);
    for (uint32_t index : {0u, 1u, 2u, 2u, 1u}) sst.ReferenceLoaded(index);
    // A cell overwritten during the read lets go of its string: the counts still pending for it
    // keep it alive, wherever in the table the file holds it.
    sst.Release(a);
    sst.Release(b);
    sst.Release(b);
    EXPECT_EQ(TSST2::Text(a), u"a");
    EXPECT_EQ(TSST2::Text(b), u"b");
    sst.ClearLoadIndex();
    // The table's own counts (one per place in the file) plus the cells, less the releases.
    EXPECT_EQ(a->UseCount(), 2u + 3u - 1u);
    EXPECT_EQ(b->UseCount(), 1u + 2u - 2u);
    EXPECT_EQ(sst.LoadedEntry(0), nullptr);
}

// A column of one repeated text counts more cells on one string than the load index keeps
// beside it; none of them may be lost, also when a release comes in the middle.
TEST(SharedStrings, OneStringOfAReadTakesAnyNumberOfCells) {
    TSST2 sst;
    sst.AddLoaded(sst.AddEntry(u"ok", false, {}, {}));
    TSSTEntry* ok = sst.LoadedEntry(0);
    for (int i = 0; i < 100000; ++i) ASSERT_EQ(sst.ReferenceLoaded(0), ok);
    sst.Release(ok);
    for (int i = 0; i < 70000; ++i) sst.ReferenceLoaded(0);
    sst.ClearLoadIndex();
    EXPECT_EQ(ok->UseCount(), 1u + 100000u - 1u + 70000u);
}

TEST(SharedStrings, ManyTextsAreAllFoundAgainAndVisitedOnceInKeyOrder) {
    TSST2 sst;
    const int n = 20000;
    std::vector<TSSTEntry*> entries;
    for (int i = 0; i < n; ++i) entries.push_back(sst.Add(Text(i)));
    EXPECT_EQ(sst.Count(), static_cast<size_t>(n));
    for (int i = 0; i < n; i += 7) ASSERT_EQ(sst.Add(Text(i)), entries[i]) << i;
    for (int i = 0; i < n; i += 7) sst.Release(entries[i]);
    EXPECT_EQ(sst.Count(), static_cast<size_t>(n));

    std::set<const TSSTEntry*> seen;
    int previous_slot = -1;
    bool ordered = true;
    sst.ForEach([&](const TSSTEntry* e) {
        seen.insert(e);
        // Everything below root slot k has k as the low byte of its key.
        int slot = static_cast<int>(TSST2::Key(e->CharBytes()) & 0xFF);
        if (slot < previous_slot) ordered = false;
        previous_slot = slot;
    });
    EXPECT_EQ(seen.size(), static_cast<size_t>(n));
    EXPECT_TRUE(ordered);

    for (int i = 0; i < n; i += 2) sst.Release(entries[i]);
    EXPECT_EQ(sst.Count(), static_cast<size_t>(n / 2));
    for (int i = 1; i < n; i += 2) ASSERT_EQ(sst.Add(Text(i)), entries[i]) << i;
}

// The table as the plainest code would hold it: 256 slots per node, each a chain (newest first)
// or a node below, a chain split into a node when a ninth entry comes, except at the fourth
// level. The table's walk must give its entries in exactly this order, which is the order the
// SST record is written in.
class ReferenceTrie {
  public:
    void Add(const TSSTEntry* e) { Place(root_, 0, KeyOf(e), e); }
    void Remove(const TSSTEntry* e) {
        const uint32_t key = KeyOf(e);
        Node* node = &root_;
        int depth = 0;
        while (node->children.count(Byte(key, depth))) node = node->children[Byte(key, depth++)].get();
        auto& chain = node->chains[Byte(key, depth)];
        chain.erase(std::find(chain.begin(), chain.end(), e));
    }
    std::vector<const TSSTEntry*> Walk() const {
        std::vector<const TSSTEntry*> order;
        WalkNode(root_, order);
        return order;
    }

  private:
    struct Node {
        std::map<int, std::vector<const TSSTEntry*>> chains;
        std::map<int, std::unique_ptr<Node>> children;
    };
    static uint32_t KeyOf(const TSSTEntry* e) { return TSST2::Key(e->CharBytes()); }
    static int Byte(uint32_t key, int depth) { return static_cast<int>((key >> (8 * depth)) & 0xFF); }
    static void Place(Node& node, int depth, uint32_t key, const TSSTEntry* e) {
        const int b = Byte(key, depth);
        if (auto child = node.children.find(b); child != node.children.end()) {
            Place(*child->second, depth + 1, key, e);
            return;
        }
        auto& chain = node.chains[b];
        if (chain.size() < 8 || depth >= 3) {
            chain.insert(chain.begin(), e);
            return;
        }
        std::vector<const TSSTEntry*> moved = std::move(chain);
        node.chains.erase(b);
        Node& inner = *(node.children[b] = std::make_unique<Node>());
        for (auto it = moved.rbegin(); it != moved.rend(); ++it) Place(inner, depth + 1, KeyOf(*it), *it);
        Place(inner, depth + 1, key, e);
    }
    static void WalkNode(const Node& node, std::vector<const TSSTEntry*>& order) {
        for (int b = 0; b < 256; ++b) {
            if (auto child = node.children.find(b); child != node.children.end()) {
                WalkNode(*child->second, order);
            } else if (auto chain = node.chains.find(b); chain != node.chains.end()) {
                order.insert(order.end(), chain->second.begin(), chain->second.end());
            }
        }
    }
    Node root_;
};

TEST(SharedStrings, WalkOrderIsTheTrieOrderThroughGrowthAndReleases) {
    TSST2 sst;
    ReferenceTrie reference;
    std::vector<TSSTEntry*> entries;
    auto walk = [&] {
        std::vector<const TSSTEntry*> order;
        sst.ForEach([&](const TSSTEntry* e) { order.push_back(e); });
        return order;
    };
    // Sizes where the second level is sparse, filling up, and mostly split.
    for (int i = 0; i < 60000; ++i) {
        entries.push_back(sst.Add(Text(i)));
        reference.Add(entries.back());
        if (i == 500 || i == 5000 || i == 20000) {
            ASSERT_EQ(walk(), reference.Walk()) << i;
        }
    }
    // Emptied slots, then new texts into the same nodes.
    for (int i = 0; i < 60000; i += 3) {
        reference.Remove(entries[i]);
        sst.Release(entries[i]);
    }
    ASSERT_EQ(walk(), reference.Walk());
    for (int i = 60000; i < 90000; ++i) reference.Add(sst.Add(Text(i)));
    EXPECT_EQ(walk(), reference.Walk());
}

// Texts of one length whose keys collide: CRC-32 is affine in the message bits, so a message
// plus any element of the kernel of its linear part has the same key.
std::vector<std::u16string> CollidingTexts(int count) {
    const int bits = 64;
    std::vector<uint8_t> zero(8, 0);
    uint32_t base = TSST2::Key(zero);
    struct Row {
        uint32_t value;
        uint64_t combination;
    };
    std::vector<Row> pivots;
    std::vector<uint64_t> kernel;
    for (int j = 0; j < bits; ++j) {
        std::vector<uint8_t> unit(8, 0);
        unit[j / 8] = static_cast<uint8_t>(1u << (j % 8));
        Row r{TSST2::Key(unit) ^ base, uint64_t{1} << j};
        for (const Row& p : pivots) {
            uint32_t top = p.value & (~p.value + 1);  // lowest set bit is the pivot
            if (r.value & top) {
                r.value ^= p.value;
                r.combination ^= p.combination;
            }
        }
        if (r.value == 0) {
            kernel.push_back(r.combination);
        } else {
            // Keep pivots reduced against the new one so each pivot bit is in one row only.
            uint32_t top = r.value & (~r.value + 1);
            for (Row& p : pivots)
                if (p.value & top) {
                    p.value ^= r.value;
                    p.combination ^= r.combination;
                }
            pivots.push_back(r);
        }
    }
    // Text k changes the message by the kernel elements that the bits of k choose; the kernel's
    // basis is independent, so every k gives another text.
    std::vector<std::u16string> texts;
    const uint8_t message[8] = {'l', 'i', 'n', 'o', 'g', 'r', 'a', 'f'};
    for (uint64_t k = 0; k < static_cast<uint64_t>(count) && k >> kernel.size() == 0; ++k) {
        uint64_t change = 0;
        for (size_t j = 0; j < kernel.size(); ++j)
            if (k >> j & 1) change ^= kernel[j];
        std::u16string t;
        for (int b = 0; b < 8; ++b)
            t.push_back(static_cast<char16_t>(message[b] ^ static_cast<uint8_t>(change >> (8 * b))));
        texts.push_back(t);
    }
    return texts;
}

TEST(SharedStrings, TextsWithTheSameKeyBeyondTheChainLimitStayDistinct) {
    std::vector<std::u16string> texts = CollidingTexts(12);
    ASSERT_EQ(texts.size(), 12u);
    auto bytes = [](const std::u16string& t) {
        std::vector<uint8_t> b;
        for (char16_t c : t) b.push_back(static_cast<uint8_t>(c));
        return b;
    };
    for (const auto& t : texts) ASSERT_EQ(TSST2::Key(bytes(t)), TSST2::Key(bytes(texts[0])));

    TSST2 sst;
    std::vector<TSSTEntry*> entries;
    for (const auto& t : texts) entries.push_back(sst.Add(t));
    EXPECT_EQ(sst.Count(), texts.size());
    for (size_t i = 0; i < texts.size(); ++i) {
        EXPECT_EQ(sst.Add(texts[i]), entries[i]);
        EXPECT_EQ(TSST2::Text(entries[i]), texts[i]);
    }
    sst.Release(entries[5]);
    sst.Release(entries[5]);
    EXPECT_EQ(sst.Count(), texts.size() - 1);
    EXPECT_EQ(sst.Add(texts[6]), entries[6]);
}

// A file can hold any number of texts with one key. They stay distinct, are found again and
// keep the trie's order however many there are, also after releases in the middle.
TEST(SharedStrings, ThousandsOfTextsWithOneKeyStayDistinctAndInOrder) {
    const std::vector<std::u16string> texts = CollidingTexts(3000);
    ASSERT_EQ(texts.size(), 3000u);
    TSST2 sst;
    ReferenceTrie reference;
    std::vector<TSSTEntry*> entries;
    for (const auto& t : texts) {
        entries.push_back(sst.Add(t));
        reference.Add(entries.back());
    }
    EXPECT_EQ(sst.Count(), texts.size());
    auto walk = [&] {
        std::vector<const TSSTEntry*> order;
        sst.ForEach([&](const TSSTEntry* e) { order.push_back(e); });
        return order;
    };
    EXPECT_EQ(walk(), reference.Walk());
    for (size_t i = 0; i < texts.size(); i += 3) {
        reference.Remove(entries[i]);
        sst.Release(entries[i]);
    }
    for (size_t i = 0; i < texts.size(); ++i) {
        if (i % 3 == 0) continue;
        ASSERT_EQ(sst.Add(texts[i]), entries[i]) << i;
        ASSERT_EQ(TSST2::Text(entries[i]), texts[i]);
    }
    EXPECT_EQ(walk(), reference.Walk());
    // The released texts come back as new entries at the chain's newest end.
    for (size_t i = 0; i < texts.size(); i += 3) reference.Add(sst.Add(texts[i]));
    EXPECT_EQ(sst.Count(), texts.size());
    EXPECT_EQ(walk(), reference.Walk());
}

TEST(SharedStrings, ClearEmptiesEverything) {
    TSST2 sst;
    sst.Add(u"x");
    sst.Add(u"y");
    sst.ExtSST().push_back({100, 12});
    sst.AddLoaded(sst.Add(u"z"));
    sst.Clear();
    EXPECT_EQ(sst.Count(), 0u);
    EXPECT_EQ(sst.RefTotal(), 0u);
    EXPECT_TRUE(sst.ExtSST().empty());
    EXPECT_EQ(sst.LoadedEntry(0), nullptr);
    int visited = 0;
    sst.ForEach([&](const TSSTEntry*) { ++visited; });
    EXPECT_EQ(visited, 0);
}

}  // namespace
}  // namespace linograf::workbook

namespace linograf::workbook {
namespace {

// Enough texts that slots below the root split into inner nodes, inner nodes outgrow their
// first size and turn dense, and chains shrink back to one entry: after each round of adds and
// releases the table must agree with a plain map of texts to their counts.
TEST(SharedStrings, ManyAddsAndReleasesAgreeWithAMapOfCounts) {
    TSST2 sst;
    std::map<std::u16string, std::pair<TSSTEntry*, uint32_t>> expected;
    std::mt19937 random(20);
    uint32_t references = 0;
    const auto check = [&] {
        ASSERT_EQ(sst.Count(), expected.size());
        ASSERT_EQ(sst.RefTotal(), references);
        std::set<const TSSTEntry*> visited;
        sst.ForEach([&](const TSSTEntry* e) { ASSERT_TRUE(visited.insert(e).second); });
        ASSERT_EQ(visited.size(), expected.size());
        for (const auto& [text, held] : expected) {
            ASSERT_TRUE(visited.count(held.first));
            ASSERT_EQ(TSST2::Text(held.first), text);
            ASSERT_EQ(held.first->UseCount(), held.second);
        }
    };
    for (int round = 0; round < 3; ++round) {
        for (int i = 0; i < 40000; ++i) {
            const std::u16string text = Text(static_cast<int>(random() % 30000));
            TSSTEntry* e = sst.Add(text);
            ++references;
            auto [it, added] = expected.try_emplace(text, e, 0);
            ASSERT_EQ(it->second.first, e);
            ++it->second.second;
        }
        check();
        for (auto it = expected.begin(); it != expected.end();) {
            if (random() % 3 == 0) {
                ++it;
                continue;
            }
            sst.Release(it->second.first);
            if (--it->second.second == 0) {
                --references;  // only freeing the entry lowers the total
                it = expected.erase(it);
            } else {
                ++it;
            }
        }
        check();
    }
}

}  // namespace
}  // namespace linograf::workbook
