// Damaged table files: every damage is refused where it is met, without reading outside the
// files (the native build runs under AddressSanitizer).
#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "diskfiles.h"
#include "tablefixture.h"
#include "testsupport.h"

using tabletest::bytes;
using tabletest::patchBytes;
using tabletest::patchU32;
using tabletest::resizeFile;
using testsupport::readBytes;
namespace fs = std::filesystem;

namespace {

// Header (12) and the descriptors of ID (8 + 4) and NAME (8 + 8).
constexpr uint32_t kRecordsStart = 40;

class DamageTest : public tabletest::TableFixture {
  protected:
    // A closed table D with three records, an index over NAME and one over ID.
    void SetUp() override {
        auto table = makeTable(L"D", {{L"ID", FT_UINT32}, {L"NAME", FT_STRING}});
        ASSERT_TRUE(table->createIndex(L"D_NAME", L"NAME"));
        ASSERT_TRUE(table->createIndex(L"D_ID", L"ID"));
        ASSERT_TRUE(append(*table, 1, L"one"));
        ASSERT_TRUE(append(*table, 2, L"two"));
        ASSERT_TRUE(append(*table, 3, L"one"));
        ASSERT_TRUE(table->close());
    }

    bool opens() {
        Table table(L"D", dir_.wide().c_str(), false);
        return table.open();
    }
};

}  // namespace

TEST_F(DamageTest, HeaderCutShortOrClaimingMoreThanTheFile) {
    const fs::path data = file(L"D.dat");
    const auto original = readBytes(data);
    ASSERT_TRUE(opens());

    resizeFile(data, 11);
    EXPECT_FALSE(opens());
    resizeFile(data, 0);
    EXPECT_FALSE(opens());

    const std::vector<std::pair<uint64_t, uint32_t>> damages = {
        {8, 1000},         // field count beyond the file
        {8, 0xFFFFFFFF},   // field count that overflows
        {16, 0x7FFFFFF0},  // name length beyond the file
        {16, 3},           // odd name length
        {12, 9},           // unknown type code
        {0, 4},            // more live records than record numbers
    };
    for (const auto& [offset, value] : damages) {
        tabletest::writeBytes(data, original);
        patchU32(data, offset, value);
        EXPECT_FALSE(opens()) << "offset " << offset << " value " << value;
    }
    // At most 256 fields, however many descriptors the file holds (no catalogue: its indexes
    // name fields these schemas lack).
    fs::remove(file(L"D_idx.dat"));
    for (uint32_t fields : {256u, 257u}) {
        std::vector<uint8_t> header = bytes({0, 0, 0, 0, 0, 0, 0, 0});
        for (int shift = 0; shift < 32; shift += 8)
            header.push_back(static_cast<uint8_t>(fields >> shift));
        for (uint32_t i = 0; i < fields; ++i) {
            const auto descriptor = bytes({1, 0, 0, 0, 2, 0, 0, 0, 'A', 0});
            header.insert(header.end(), descriptor.begin(), descriptor.end());
        }
        tabletest::writeBytes(data, header);
        EXPECT_EQ(opens(), fields == 256) << fields << " fields";
    }
    // Descriptors that end exactly at the end of the file are fine.
    tabletest::writeBytes(data, std::vector<uint8_t>(original.begin(), original.begin() + 40));
    patchU32(data, 0, 0);
    EXPECT_TRUE(opens());
}

TEST_F(DamageTest, RecordPointerFileOfTornEntries) {
    const fs::path pointers = file(L"D.pxx");
    resizeFile(pointers, 14);
    EXPECT_FALSE(opens());
    fs::remove(pointers);
    EXPECT_FALSE(opens());
}

TEST_F(DamageTest, RecordPointersOutsideTheRecords) {
    const fs::path pointers = file(L"D.pxx");
    const uint64_t dataSize = fs::file_size(file(L"D.dat"));
    patchU32(pointers, 0, 0x7FFFFFFF);                           // far beyond the data file
    patchU32(pointers, 4, 8);                                    // inside the header
    patchU32(pointers, 8, static_cast<uint32_t>(dataSize) - 2);  // cut short by the end
    auto table = openTable(L"D");
    FieldList record = recordOf(*table);
    for (uint32_t n = 0; n < 3; ++n)
        EXPECT_FALSE(table->readRecord(n, record)) << n;
    EXPECT_FALSE(table->readRecord(3, record));  // beyond the record-pointer file
    EXPECT_FALSE(table->readRecord(0xFFFFFFFF, record));
    EXPECT_FALSE(table->updateRecord(0, record));
    EXPECT_FALSE(table->createIndex(L"D_MORE", L"ID"));
    EXPECT_FALSE(fs::exists(file(L"D_MORE.idx")));
    // The table still takes new records.
    ASSERT_TRUE(append(*table, 4, L"four"));
    ASSERT_TRUE(table->readRecord(3, record));
    EXPECT_EQ(number(record, L"ID"), 4u);
}

TEST_F(DamageTest, StringLengthBeyondTheFile) {
    // The length of the last record's string, two bytes behind its bitmap and ID.
    const auto pointers = readBytes(file(L"D.pxx"));
    patchBytes(file(L"D.dat"), tabletest::u32At(pointers, 8) + 5, bytes({0xFF, 0x7F}));
    auto table = openTable(L"D");
    FieldList record = recordOf(*table);
    EXPECT_TRUE(table->readRecord(1, record));
    EXPECT_FALSE(table->readRecord(2, record));
}

TEST_F(DamageTest, IndexSlotsPointingOutsideTheirFileOrBackwards) {
    const fs::path index = file(L"D_NAME.idx");
    // Find the bucket of "ONE": it holds record 2 and links to the overflow slot with record 0.
    IndexKey key;
    key.assignText(L"ONE");
    const uint64_t bucket = key.bucket();
    {
        auto table = openTable(L"D");
        EXPECT_EQ(lookup(*table, L"NAME", L"ONE"), (std::vector<uint32_t>{2, 0}));
    }
    const auto original = readBytes(index);
    const uint32_t overflow = tabletest::u32At(original, 8 * bucket + 4);
    ASSERT_EQ(overflow, 65536u);

    struct Damage {
        uint64_t offset;
        uint32_t value;
        std::vector<uint32_t> found;
    };
    const Damage damages[] = {
        {8 * bucket + 4, 70000, {2}},       // next slot past the end of the file
        {8 * bucket + 4, 12, {}},           // a bucket links to another bucket
        {8 * overflow + 4, overflow, {2}},  // an overflow slot links to itself: a loop
        {8 * bucket, 1000, {}},             // record number beyond the record pointers
        {8 * overflow, 0xFFFFFFFE, {2}},
    };
    for (const Damage& d : damages) {
        tabletest::writeBytes(index, original);
        patchU32(index, d.offset, d.value);
        auto table = openTable(L"D");
        EXPECT_EQ(lookup(*table, L"NAME", L"ONE"), d.found)
            << "offset " << d.offset << " value " << d.value;
    }
}

TEST_F(DamageTest, EmptyBucketWithAStaleLinkStillFilesANewRecord) {
    IndexKey key;
    key.assignText(L"NEW");
    const uint64_t bucket = key.bucket();
    ASSERT_EQ(tabletest::u32At(readBytes(file(L"D_NAME.idx")), 8 * bucket), 0xFFFFFFFFu);
    patchU32(file(L"D_NAME.idx"), 8 * bucket + 4, 0);  // links to bucket 0
    auto table = openTable(L"D");
    ASSERT_TRUE(append(*table, 4, L"new"));
    EXPECT_EQ(lookup(*table, L"NAME", L"NEW"), (std::vector<uint32_t>{3}));
}

TEST_F(DamageTest, IndexFileTooShortIsLeftOut) {
    resizeFile(file(L"D_ID.idx"), 524288 - 8);
    auto table = openTable(L"D");
    EXPECT_EQ(table->findIndex(L"ID"), nullptr);
    EXPECT_NE(table->findIndex(L"NAME"), nullptr);
    ASSERT_TRUE(table->close());
    resizeFile(file(L"D_NAME.idx"), 524288 + 9);
    table = openTable(L"D");
    EXPECT_EQ(table->findIndex(L"NAME"), nullptr);
}

TEST_F(DamageTest, CatalogueEntriesCutShortOrMisnamed) {
    const fs::path catalogue = file(L"D_idx.dat");
    const auto original = readBytes(catalogue);
    ASSERT_EQ(original.size(), 30u + 22u);  // D_NAME over NAME, D_ID over ID

    for (uint64_t cut : {original.size() - 1, original.size() - 9, uint64_t{31}, uint64_t{1}}) {
        tabletest::writeBytes(catalogue, original);
        resizeFile(catalogue, cut);
        EXPECT_FALSE(opens()) << "cut at " << cut;
    }
    tabletest::writeBytes(catalogue, original);
    patchU32(catalogue, 2, 0x10000);  // name length beyond the file
    EXPECT_FALSE(opens());
    tabletest::writeBytes(catalogue, original);
    patchBytes(catalogue, 8, bytes({'/', 0}));  // D/NAME: outside the table's directory
    EXPECT_FALSE(opens());
    tabletest::writeBytes(catalogue, original);
    patchBytes(catalogue, 50, bytes({'X', 0}));  // an index over IX, which the table lacks
    EXPECT_FALSE(opens());

    // An entry with another marker is read over; so is zero-filled room behind the entries.
    tabletest::writeBytes(catalogue, original);
    patchBytes(catalogue, 0, bytes({0x6F, 0}));
    tabletest::addSlack(catalogue);
    auto table = openTable(L"D");
    EXPECT_EQ(table->findIndex(L"NAME"), nullptr);
    EXPECT_NE(table->findIndex(L"ID"), nullptr);
    ASSERT_TRUE(table->close());

    // drop removes what the catalogue lists in front of its damage.
    resizeFile(catalogue, original.size() - 1);
    patchBytes(catalogue, 0, bytes({0x6E, 0}));
    EXPECT_TRUE(table->drop());
    EXPECT_FALSE(fs::exists(file(L"D_NAME.idx")));
    EXPECT_TRUE(fs::exists(file(L"D_ID.idx")));
    EXPECT_FALSE(fs::exists(catalogue));
}
