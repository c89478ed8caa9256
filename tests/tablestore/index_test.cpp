#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <vector>

#include "diskfiles.h"
#include "indexcatalogue.h"
#include "indexkey.h"
#include "tablefixture.h"
#include "tableindex.h"
#include "testsupport.h"

using tabletest::bytes;
using tabletest::u32At;
using testsupport::readBytes;
namespace fs = std::filesystem;

namespace {

class IndexTest : public tabletest::TableFixture {
  protected:
    std::unique_ptr<Table> people() {
        auto table = makeTable(L"P", {{L"ID", FT_UINT32}, {L"NAME", FT_STRING}});
        EXPECT_TRUE(table->createIndex(L"P_NAME", L"NAME"));
        return table;
    }
};

uint32_t bucketOfText(const wchar_t* text) {
    IndexKey key;
    key.assignText(text);
    return key.bucket();
}

using Numbers = std::vector<uint32_t>;

}  // namespace

TEST_F(IndexTest, NewIndexFileHoldsOnlyEmptyBuckets) {
    TableIndex index(L"I", dir_.wide().c_str(), L"F");
    ASSERT_TRUE(index.create());
    EXPECT_FALSE(index.create());
    EXPECT_FALSE(index.removeFile());  // refused while open
    ASSERT_TRUE(index.close());
    const auto data = readBytes(file(L"I.idx"));
    ASSERT_EQ(data.size(), 524288u);
    EXPECT_TRUE(std::all_of(data.begin(), data.end(), [](uint8_t b) { return b == 0xFF; }));
    EXPECT_TRUE(index.removeFile());
    EXPECT_FALSE(fs::exists(file(L"I.idx")));

    TableIndex incomplete(L"I", nullptr, L"F");
    EXPECT_FALSE(incomplete.create());
    EXPECT_FALSE(incomplete.open());
}

TEST_F(IndexTest, NewestRecordHeadsTheChainOfItsBucket) {
    TableIndex index(L"I", dir_.wide().c_str(), L"F");
    ASSERT_TRUE(index.create());
    const uint32_t b = 1776;
    for (uint32_t r = 0; r < 3; ++r)
        ASSERT_TRUE(index.insert(b, r));
    EXPECT_FALSE(index.insert(65536, 9));
    ASSERT_TRUE(index.close());

    const auto data = readBytes(file(L"I.idx"));
    ASSERT_EQ(data.size(), 8u * 65538);
    EXPECT_EQ(u32At(data, 8 * b), 2u);
    EXPECT_EQ(u32At(data, 8 * b + 4), 65537u);
    EXPECT_EQ(u32At(data, 8 * 65537), 1u);
    EXPECT_EQ(u32At(data, 8 * 65537 + 4), 65536u);
    EXPECT_EQ(u32At(data, 8 * 65536), 0u);
    EXPECT_EQ(u32At(data, 8 * 65536 + 4), 0xFFFFFFFFu);
    EXPECT_EQ(u32At(data, 8 * (b + 1)), 0xFFFFFFFFu);

    ASSERT_TRUE(index.open());
    uint32_t number = 0;
    uint32_t next = 0;
    ASSERT_TRUE(index.readSlot(65537, number, next));
    EXPECT_EQ(number, 1u);
    EXPECT_EQ(next, 65536u);
    EXPECT_FALSE(index.readSlot(65538, number, next));
}

TEST_F(IndexTest, KeyTextsAndBuckets) {
    IndexKey key;
    key.assignNumber(0);
    EXPECT_STREQ(key.text(), L"0");
    EXPECT_EQ(key.bucket(), 1776u);
    // 64-bit values are keyed by their low 32 bits.
    UInt64Field wide(L"W");
    wide.setValue((1ull << 32) + 5);
    ASSERT_TRUE(key.assign(wide));
    EXPECT_STREQ(key.text(), L"5");
    UInt8Field small(L"S");
    small.setValue(200);
    ASSERT_TRUE(key.assign(small));
    EXPECT_STREQ(key.text(), L"200");
    // Strings ignore letter case.
    StringField name(L"N");
    name.setValue(L"Readme.txt");
    ASSERT_TRUE(key.assign(name));
    EXPECT_STREQ(key.text(), L"README.TXT");
    EXPECT_EQ(bucketOfText(L"readme.TXT"), key.bucket());
    ByteStringField raw(L"B");
    EXPECT_FALSE(key.assign(raw));
    EXPECT_EQ(indexBucket(L""), 0u);
}

TEST_F(IndexTest, LookupFindsRecordsByKeyAndSkipsRemovedOnes) {
    auto table = people();
    ASSERT_TRUE(append(*table, 1, L"Alice"));
    ASSERT_TRUE(append(*table, 2, L"bob"));
    ASSERT_TRUE(append(*table, 3, L"ALICE"));
    ASSERT_TRUE(append(*table, 4, L"alice"));
    EXPECT_EQ(lookup(*table, L"NAME", L"ALICE"), (Numbers{3, 2, 0}));
    EXPECT_EQ(lookup(*table, L"NAME", L"BOB"), (Numbers{1}));
    EXPECT_TRUE(lookup(*table, L"NAME", L"CAROL").empty());

    ASSERT_TRUE(table->removeRecord(2));
    ASSERT_TRUE(table->removeRecord(3));
    EXPECT_EQ(lookup(*table, L"NAME", L"ALICE"), (Numbers{0}));
    ASSERT_TRUE(table->removeRecord(0));
    EXPECT_TRUE(lookup(*table, L"NAME", L"ALICE").empty());
    EXPECT_EQ(lookup(*table, L"NAME", L"BOB"), (Numbers{1}));
}

TEST_F(IndexTest, CreateIndexFilesExistingRecordsAndWritesTheCatalogue) {
    auto table = makeTable(L"P", {{L"ID", FT_UINT32}, {L"NAME", FT_STRING}});
    ASSERT_TRUE(append(*table, 7, L"x"));
    ASSERT_TRUE(append(*table, 8, L"y"));
    ASSERT_TRUE(append(*table, 7, L"z"));
    ASSERT_TRUE(table->removeRecord(1));
    // A null value is filed too when the index is built over stored records.
    FieldList record = recordOf(*table);
    ASSERT_TRUE(table->appendRecord(record));
    ASSERT_TRUE(table->createIndex(L"P_ID", L"ID"));
    EXPECT_EQ(lookup(*table, L"ID", L"7"), (Numbers{2, 0}));
    EXPECT_EQ(lookup(*table, L"ID", L"0"), (Numbers{3}));
    // Appending files a new record; a null value gets no entry then.
    ASSERT_TRUE(append(*table, 7, L"w"));
    ASSERT_TRUE(table->appendRecord(record));
    EXPECT_EQ(lookup(*table, L"ID", L"7"), (Numbers{4, 2, 0}));
    EXPECT_EQ(lookup(*table, L"ID", L"0"), (Numbers{3}));

    ASSERT_TRUE(table->createIndex(L"P_NAME", L"NAME"));
    EXPECT_EQ(table->findIndex(L"NAME")->fieldName(), std::wstring(L"NAME"));
    EXPECT_EQ(table->findIndex(L"name"), nullptr);
    ASSERT_TRUE(table->close());
    EXPECT_EQ(readBytes(file(L"P_idx.dat")),
              bytes({0x6E, 0, 8,   0, 0,    0, 'P', 0, '_', 0, 'I', 0, 'D', 0, 4,   0, 0,   0,
                     'I',  0, 'D', 0, 0x6E, 0, 12,  0, 0,   0, 'P', 0, '_', 0, 'N', 0, 'A', 0,
                     'M',  0, 'E', 0, 8,    0, 0,   0, 'N', 0, 'A', 0, 'M', 0, 'E', 0}));

    // Opening loads both indexes, and they keep working.
    ASSERT_TRUE(table->open());
    ASSERT_TRUE(append(*table, 8, L"Y"));
    EXPECT_EQ(lookup(*table, L"ID", L"8"), (Numbers{6}));
    EXPECT_EQ(lookup(*table, L"NAME", L"Y"), (Numbers{6}));
}

TEST_F(IndexTest, CreateIndexRefusals) {
    auto table = people();
    ASSERT_TRUE(table->close());
    const auto catalogue = readBytes(file(L"P_idx.dat"));
    ASSERT_TRUE(table->open());
    EXPECT_FALSE(table->createIndex(L"P_NAME", L"ID"));  // the name exists
    EXPECT_FALSE(table->createIndex(L"P_X", L"MISSING"));
    EXPECT_FALSE(table->createIndex(nullptr, L"ID"));
    EXPECT_FALSE(table->createIndex(L"../P_ID", L"ID"));  // index files stay beside the table
    ASSERT_TRUE(table->close());
    EXPECT_EQ(readBytes(file(L"P_idx.dat")), catalogue);
    EXPECT_FALSE(fs::exists(file(L"P_X.idx")));
}

TEST_F(IndexTest, CreateForgetsTheCatalogueAndOpenDropsMissingIndexFiles) {
    auto table = people();
    ASSERT_TRUE(table->createIndex(L"P_ID", L"ID"));
    ASSERT_TRUE(table->close());
    fs::remove(file(L"P_ID.idx"));
    ASSERT_TRUE(table->open());
    EXPECT_NE(table->findIndex(L"NAME"), nullptr);
    EXPECT_EQ(table->findIndex(L"ID"), nullptr);
    ASSERT_TRUE(table->close());

    auto fresh = makeTable(L"P", {{L"ID", FT_UINT32}, {L"NAME", FT_STRING}});
    EXPECT_EQ(fresh->findIndex(L"NAME"), nullptr);
    EXPECT_FALSE(fs::exists(file(L"P_idx.dat")));
    EXPECT_TRUE(fs::exists(file(L"P_NAME.idx")));  // left alone until created again
    ASSERT_TRUE(fresh->createIndex(L"P_NAME", L"NAME"));
    EXPECT_TRUE(lookup(*fresh, L"NAME", L"ANY").empty());
}

// A record rewritten in place keeps its entries under the old values; a value that lands in
// another bucket gets an entry there too, so that lookups for the new value find the record.
TEST_F(IndexTest, InPlaceUpdateFilesTheNewValue) {
    auto table = people();
    ASSERT_TRUE(append(*table, 1, L"abcde"));
    FieldList record = recordOf(*table);
    ASSERT_TRUE(table->readRecord(0, record));
    setText(record, L"NAME", L"vwxyz");
    ASSERT_TRUE(table->updateRecord(0, record));
    EXPECT_EQ(walk(*table), (Numbers{0}));
    EXPECT_EQ(lookup(*table, L"NAME", L"VWXYZ"), (Numbers{0}));
    EXPECT_EQ(lookup(*table, L"NAME", L"ABCDE"), (Numbers{0}));  // stale, filtered by callers
    // Only the case changes: same bucket, no second entry.
    setText(record, L"NAME", L"VWXYZ");
    ASSERT_TRUE(table->updateRecord(0, record));
    EXPECT_EQ(lookup(*table, L"NAME", L"VWXYZ"), (Numbers{0}));
}
