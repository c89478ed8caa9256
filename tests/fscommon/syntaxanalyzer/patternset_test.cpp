#include "patternset.h"

#include <gtest/gtest.h>

#include <string>

namespace {

PatternSet& built(PatternSet& set, const wchar_t* content) {
    set.fill(content);
    set.build(false);
    return set;
}

}  // namespace

TEST(PatternSet, SortsItemsIntoFourClasses) {
    PatternSet set;
    EXPECT_EQ(set.add(L"readme"), PatternSet::EXACT);
    EXPECT_EQ(set.add(L"*.txt"), PatternSet::SUFFIX);
    EXPECT_EQ(set.add(L"setup*"), PatternSet::PREFIX);
    EXPECT_EQ(set.add(L"a?c"), PatternSet::GENERAL);
    EXPECT_EQ(set.add(L"*q*"), PatternSet::GENERAL);
    EXPECT_EQ(set.add(L"a*b"), PatternSet::GENERAL);
    EXPECT_EQ(set.add(L""), 0u);
    EXPECT_EQ(set.kinds(), 15u);
    EXPECT_EQ(set.items(PatternSet::SUFFIX).front(), L".txt");
    EXPECT_EQ(set.items(PatternSet::PREFIX).front(), L"setup");
    EXPECT_FALSE(set.matches(L"readme"));  // not built yet
    set.build(false);

    EXPECT_TRUE(set.matches(L"readme"));
    EXPECT_FALSE(set.matches(L"readme2"));
    EXPECT_TRUE(set.matches(L"notes.txt"));
    EXPECT_TRUE(set.matches(L".txt"));  // the bare suffix
    EXPECT_FALSE(set.matches(L"notes.txt2"));
    EXPECT_TRUE(set.matches(L"setup"));  // the bare prefix
    EXPECT_TRUE(set.matches(L"setup.exe"));
    EXPECT_FALSE(set.matches(L"xsetup"));
    EXPECT_TRUE(set.matches(L"abc"));
    EXPECT_FALSE(set.matches(L"ac"));
    EXPECT_TRUE(set.matches(L"squid"));
    EXPECT_TRUE(set.matches(L"a-b"));
    EXPECT_FALSE(set.matches(L""));

    PatternSet nonEmpty;
    EXPECT_EQ(nonEmpty.add(L"?*"), PatternSet::GENERAL);
    nonEmpty.build(false);
    EXPECT_TRUE(nonEmpty.matches(L"q"));
    EXPECT_FALSE(nonEmpty.matches(L""));
}

TEST(PatternSet, FillReadsQuotedItemsOnly) {
    PatternSet set;
    built(set, L" \"*.c\" , junk \"main\"  \"*.h");  // the last item runs to the end
    EXPECT_EQ(set.items(PatternSet::SUFFIX).size(), 2u);
    EXPECT_EQ(set.items(PatternSet::EXACT).size(), 1u);
    EXPECT_TRUE(set.matches(L"x.h"));
    EXPECT_TRUE(set.matches(L"main"));
    EXPECT_FALSE(set.matches(L"junk"));

    PatternSet none;
    built(none, L"no quotes at all");
    EXPECT_TRUE(none.isBuilt());
    EXPECT_EQ(none.kinds(), 0u);
    EXPECT_FALSE(none.matches(L"no quotes at all"));
    EXPECT_FALSE(none.matches(L""));
}

TEST(PatternSet, StarAloneMatchesEverythingAndEndsTheSet) {
    PatternSet set;
    EXPECT_EQ(set.add(L"*"), 0u);
    EXPECT_EQ(set.add(L"*.txt"), 0u);  // ignored from now on
    set.build(false);
    EXPECT_TRUE(set.matchesAll());
    EXPECT_EQ(set.kinds(), 0u);
    EXPECT_TRUE(set.matches(L""));
    EXPECT_TRUE(set.matches(L"anything at all"));
}

TEST(PatternSet, ItemsAreLowerCasedAndCandidatesComeLowerCased) {
    PatternSet set;
    built(set, L"\"*.TXT\" \"ReadMe\" \"SETUP*\" \"A?C\"");
    EXPECT_TRUE(set.matches(L"notes.txt"));
    EXPECT_TRUE(set.matches(L"readme"));
    EXPECT_TRUE(set.matches(L"setup1"));
    EXPECT_TRUE(set.matches(L"abc"));
    // The hashed classes see the candidate as given: the caller lower-cases it.
    EXPECT_FALSE(set.matches(L"NOTES.TXT"));
    EXPECT_FALSE(set.matches(L"README"));

    PatternSet twins;
    built(twins, L"\"*.Doc\" \"*.dOC\"");
    EXPECT_TRUE(twins.matches(L"a.doc"));
    EXPECT_EQ(twins.items(PatternSet::SUFFIX)[0], twins.items(PatternSet::SUFFIX)[1]);
}

TEST(PatternSet, LengthMapCoversItemsBelow4096Units) {
    const std::wstring item4095(4095, L'a');
    const std::wstring item4096(4096, L'b');
    PatternSet set;
    EXPECT_EQ(set.add(item4095), PatternSet::EXACT);
    // Too long for the length map: kept, and matched by wildcard with the same meaning.
    EXPECT_EQ(set.add(item4096), PatternSet::GENERAL);
    EXPECT_EQ(set.add(L"*" + std::wstring(4096, L'c')), PatternSet::GENERAL);
    EXPECT_EQ(set.add(std::wstring(4096, L'd') + L"*"), PatternSet::GENERAL);
    EXPECT_EQ(set.add(L"*.log"), PatternSet::SUFFIX);
    EXPECT_EQ(set.add(L"pre*"), PatternSet::PREFIX);
    set.build(false);

    EXPECT_TRUE(set.matches(item4095));
    EXPECT_FALSE(set.matches(item4095 + L"a"));  // a 4096-unit candidate finds no exact item
    EXPECT_TRUE(set.matches(item4096));
    EXPECT_FALSE(set.matches(item4096 + L"b"));
    EXPECT_TRUE(set.matches(L"x" + std::wstring(4096, L'c')));
    EXPECT_TRUE(set.matches(std::wstring(4096, L'd') + L"x"));
    // Long candidates: suffix and prefix tests look at short tails and heads only.
    EXPECT_TRUE(set.matches(std::wstring(5000, L'z') + L".log"));
    EXPECT_TRUE(set.matches(L"pre" + std::wstring(5000, L'z')));
    EXPECT_FALSE(set.matches(std::wstring(5000, L'z')));
}

TEST(KeyHashTable, SixteenSlotsForFiveKeysThirtyTwoForSixToTen) {
    std::vector<std::wstring> keys;
    for (int n = 0; n <= 11; ++n) {
        KeyHashTable table(keys, true);
        const uint32_t expected = n <= 5 ? 16 : n <= 10 ? 32 : 64;
        EXPECT_EQ(table.size(), expected) << n << " keys";
        EXPECT_EQ(table.count(), static_cast<uint32_t>(n));
        for (const auto& key : keys)
            EXPECT_TRUE(table.contains(key)) << n << " keys";
        EXPECT_FALSE(table.contains(L"absent"));
        keys.push_back(L"key" + std::to_wstring(n));
    }
}

TEST(KeyHashTable, CollidingKeysProbeFromTheSeedAndAreBothFound) {
    // Only the low byte of each unit takes part in the hash: a and U+0161 collide.
    const std::vector<std::wstring> keys = {L"a", L"\u0161"};
    ASSERT_EQ(KeyHashTable::hash(keys[0]), KeyHashTable::hash(keys[1]));
    KeyHashTable table(keys, true);
    const uint32_t h = KeyHashTable::hash(keys[0]);
    const uint32_t mask = table.size() - 1;
    EXPECT_EQ(table.slot(h & mask), 0u);
    // The second key takes the first free slot of h + seed + k, k = 1, 2, ...: k = 1 unless that
    // lands on the home slot again.
    uint32_t k = 1;
    while (((h + table.seed() + k) & mask) == (h & mask))
        ++k;
    EXPECT_EQ(table.slot((h + table.seed() + k) & mask), 1u);
    EXPECT_TRUE(table.contains(L"a"));
    EXPECT_TRUE(table.contains(L"\u0161"));
    EXPECT_FALSE(table.contains(L"\u0261"));  // same home slot, not a key
    EXPECT_EQ(KeyHashTable::hash(L""), 0u);
}

TEST(KeyHashTable, ASeedSourcePinsTheProbeOffsetAndNoSeedHidesAKey) {
    // Four keys with one home slot: every probe offset, also one that lands on the home slot
    // again, must lead to all of them.
    const std::vector<std::wstring> keys = {L"a", L"\u0161", L"\u0261", L"\u0361"};
    static uint32_t pinned = 0;
    KeyHashTable::setSeedSource([] { return pinned; });
    for (pinned = 0; pinned < 40; ++pinned) {
        KeyHashTable table(keys, true);
        EXPECT_EQ(table.seed(), pinned);
        for (const auto& key : keys)
            EXPECT_TRUE(table.contains(key)) << "seed " << pinned;
        EXPECT_FALSE(table.contains(L"\u0461")) << "seed " << pinned;
    }
    KeyHashTable::setSeedSource(nullptr);
}
