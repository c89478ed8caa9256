#include "table.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "diskfiles.h"
#include "sync/win32sync.h"
#include "tablefixture.h"
#include "testsupport.h"

using tabletest::bytes;
using tabletest::u32At;
using testsupport::readBytes;
namespace fs = std::filesystem;

namespace {

class TableTest : public tabletest::TableFixture {};

using Bytes = std::vector<uint8_t>;

Bytes concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

}  // namespace

TEST_F(TableTest, OneFieldTableHeaderAndRecordBytes) {
    const Bytes header =
        bytes({0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 3, 0, 0, 0, 4, 0, 0, 0, 'I', 0, 'D', 0});
    for (bool compact : {false, true}) {
        auto table = makeTable(L"T", {{L"ID", FT_UINT32}}, compact);
        ASSERT_TRUE(table->close());
        EXPECT_EQ(readBytes(file(L"T.dat")), header);
        EXPECT_TRUE(readBytes(file(L"T.pxx")).empty());

        ASSERT_TRUE(table->open());
        EXPECT_EQ(table->schema().fieldCount(), 1u);
        FieldList record = recordOf(*table);
        setNumber(record, L"ID", 5);
        ASSERT_TRUE(table->appendRecord(record));
        ASSERT_TRUE(table->close());

        Bytes expected = concat(header, compact ? bytes({0x00, 0x0A}) : bytes({0x00, 5, 0, 0, 0}));
        expected[0] = 1;  // live count
        EXPECT_EQ(readBytes(file(L"T.dat")), expected) << "compact " << compact;
        EXPECT_EQ(readBytes(file(L"T.pxx")), bytes({0x18, 0, 0, 0}));

        ASSERT_TRUE(table->open());
        ASSERT_TRUE(table->readRecord(0, record));
        EXPECT_EQ(number(record, L"ID"), 5u);
        EXPECT_EQ(record.fieldAt(0)->isNull, 0);
    }
}

TEST_F(TableTest, DescriptorsAndBitmapFollowTheFieldCount) {
    const wchar_t* names[] = {L"A", L"BB", L"CCC", L"D", L"EEEEE", L"F", L"GG", L"H", L"I"};
    for (size_t count : {8u, 9u}) {
        const std::wstring tableName = L"W" + std::to_wstring(count);
        Table table(tableName.c_str(), dir_.wide().c_str(), false);
        size_t header = 12;
        for (size_t i = 0; i < count; ++i) {
            ASSERT_TRUE(table.addField(names[i], FT_UINT8));
            header += 8 + 2 * std::wcslen(names[i]);
        }
        ASSERT_TRUE(table.create());
        ASSERT_TRUE(table.appendRecord(recordOf(table)));
        ASSERT_TRUE(table.close());
        const size_t bitmap = count == 8 ? 1 : 2;
        EXPECT_EQ(readBytes(file(tableName + L".dat")).size(), header + bitmap + count);
        EXPECT_EQ(u32At(readBytes(file(tableName + L".pxx")), 0), header);
    }
}

TEST_F(TableTest, NamesAreStoredAsUtf16le) {
    std::wstring name = L"N\x00E9";
    Bytes stored = bytes({'N', 0, 0xE9, 0});
    if constexpr (sizeof(wchar_t) > 2) {
        name += static_cast<wchar_t>(0x1F600);  // a surrogate pair in the file
        stored = concat(stored, bytes({0x3D, 0xD8, 0x00, 0xDE}));
    }
    auto table = makeTable(L"U", {{name.c_str(), FT_STRING}});
    ASSERT_TRUE(table->close());
    const Bytes data = readBytes(file(L"U.dat"));
    EXPECT_EQ(u32At(data, 16), stored.size());
    EXPECT_EQ(Bytes(data.begin() + 20, data.end()), stored);
    ASSERT_TRUE(table->open());
    EXPECT_EQ(std::wstring(table->schema().fieldAt(0)->name()), name);
}

TEST_F(TableTest, RemovedNumbersAreSkippedAndNeverReused) {
    auto table = makeTable(L"R", {{L"ID", FT_UINT32}, {L"NAME", FT_STRING}});
    for (uint32_t id = 10; id < 13; ++id)
        ASSERT_TRUE(append(*table, id, L"x"));
    ASSERT_TRUE(table->removeRecord(1));
    EXPECT_EQ(walk(*table), (std::vector<uint32_t>{0, 2}));
    FieldList record = recordOf(*table);
    EXPECT_FALSE(table->readRecord(1, record));
    // A free or unknown number cannot be removed (again); the counts stay right.
    EXPECT_FALSE(table->removeRecord(1));
    EXPECT_FALSE(table->removeRecord(3));
    ASSERT_TRUE(append(*table, 13, L"y"));
    EXPECT_EQ(walk(*table), (std::vector<uint32_t>{0, 2, 3}));
    ASSERT_TRUE(table->readRecord(3, record));
    EXPECT_EQ(number(record, L"ID"), 13u);
    EXPECT_EQ(text(record, L"NAME"), L"y");
    ASSERT_TRUE(table->close());

    const Bytes pointers = readBytes(file(L"R.pxx"));
    ASSERT_EQ(pointers.size(), 16u);
    EXPECT_EQ(u32At(pointers, 4), 0u);
    const Bytes data = readBytes(file(L"R.dat"));
    EXPECT_EQ(u32At(data, 0), 3u);  // live
    EXPECT_EQ(u32At(data, 4), 1u);  // removed

    ASSERT_TRUE(table->open());
    for (uint32_t n : {0u, 2u, 3u})
        ASSERT_TRUE(table->removeRecord(n));
    uint32_t n = 99;
    EXPECT_FALSE(table->firstRecordId(n));
}

TEST_F(TableTest, SchemaIsFixedOnceCreatedOrOpened) {
    auto table = makeTable(L"S", {{L"ID", FT_UINT32}});
    EXPECT_FALSE(table->addField(L"MORE", FT_UINT8));
    EXPECT_FALSE(table->create());  // already open
    ASSERT_TRUE(table->close());
    EXPECT_EQ(table->schema().fieldCount(), 0u);  // open reads it again
    ASSERT_TRUE(table->open());
    EXPECT_FALSE(table->addField(L"MORE", FT_UINT8));
    EXPECT_EQ(table->schema().fieldCount(), 1u);

    Table nameless(nullptr, dir_.wide().c_str(), false);
    EXPECT_FALSE(nameless.create());
    EXPECT_FALSE(nameless.open());
    // A create that fails keeps the declared schema.
    Table unreachable(L"X", (dir_.wide() + L"/no/such/dir").c_str(), false);
    ASSERT_TRUE(unreachable.addField(L"ID", FT_UINT32));
    EXPECT_FALSE(unreachable.create());
    EXPECT_EQ(unreachable.schema().fieldCount(), 1u);
}

TEST_F(TableTest, DropIsRefusedWhileOpenAndRemovesTheFiles) {
    auto table = makeTable(L"D", {{L"ID", FT_UINT32}, {L"NAME", FT_STRING}});
    ASSERT_TRUE(table->createIndex(L"D_ID", L"ID"));
    ASSERT_TRUE(append(*table, 1, L"a"));
    EXPECT_FALSE(table->drop());
    EXPECT_TRUE(fs::exists(file(L"D.dat")));
    ASSERT_TRUE(table->close());
    tabletest::writeBytes(file(L"D_OTHER.idx"), bytes({1}));  // not in the catalogue

    EXPECT_TRUE(table->drop());
    for (const wchar_t* gone : {L"D.dat", L"D.pxx", L"D_idx.dat", L"D_ID.idx"})
        EXPECT_FALSE(fs::exists(file(gone))) << fs::path(gone);
    EXPECT_TRUE(fs::exists(file(L"D_OTHER.idx")));
    EXPECT_FALSE(table->open());
}

TEST_F(TableTest, FixedUpdateRewritesInPlaceOnlyWhileStringsKeepTheirLength) {
    auto table = makeTable(L"F", {{L"ID", FT_UINT32}, {L"NAME", FT_STRING}});
    ASSERT_TRUE(append(*table, 1, L"abcde"));
    FieldList record = recordOf(*table);
    ASSERT_TRUE(table->readRecord(0, record));
    setNumber(record, L"ID", 2);
    setText(record, L"NAME", L"vwxyz");
    ASSERT_TRUE(table->updateRecord(0, record));
    EXPECT_EQ(walk(*table), (std::vector<uint32_t>{0}));
    ASSERT_TRUE(table->readRecord(0, record));
    EXPECT_EQ(number(record, L"ID"), 2u);
    EXPECT_EQ(text(record, L"NAME"), L"vwxyz");

    // Five characters, one of them two bytes long in UTF-8: the record moves to a new number.
    setText(record, L"NAME", L"abcd\x00E9");
    ASSERT_TRUE(table->updateRecord(0, record));
    EXPECT_EQ(walk(*table), (std::vector<uint32_t>{1}));
    ASSERT_TRUE(table->readRecord(1, record));
    EXPECT_EQ(text(record, L"NAME"), L"abcd\x00E9");
    EXPECT_FALSE(table->updateRecord(0, record));  // no longer in use

    // Six characters instead of five: moves as well; the old bytes stay behind.
    ASSERT_TRUE(append(*table, 3, L"fghij"));
    ASSERT_TRUE(table->readRecord(2, record));
    setText(record, L"NAME", L"fghijk");
    ASSERT_TRUE(table->updateRecord(2, record));
    EXPECT_EQ(walk(*table), (std::vector<uint32_t>{1, 3}));
    ASSERT_TRUE(table->close());

    const Bytes data = readBytes(file(L"F.dat"));
    const size_t start = 12 + 8 + 4 + 8 + 8;  // header and two descriptors
    const size_t fixed = 1 + 4 + 2;           // bitmap, ID, string length
    ASSERT_EQ(data.size(), start + 2 * (fixed + 5) + 2 * (fixed + 6));
    EXPECT_EQ(Bytes(data.begin() + start, data.begin() + start + fixed + 5),
              bytes({0x00, 2, 0, 0, 0, 5, 0, 'v', 'w', 'x', 'y', 'z'}));
    const size_t third = start + (fixed + 5) + (fixed + 6);
    EXPECT_EQ(Bytes(data.begin() + third, data.begin() + third + fixed + 5),
              bytes({0x00, 3, 0, 0, 0, 5, 0, 'f', 'g', 'h', 'i', 'j'}));
    EXPECT_EQ(u32At(data, 0), 2u);
    EXPECT_EQ(u32At(data, 4), 2u);
}

TEST_F(TableTest, CompactUpdatesAlwaysMoveTheRecord) {
    auto table = makeTable(L"C", {{L"ID", FT_UINT32}, {L"NAME", FT_STRING}}, true);
    ASSERT_TRUE(append(*table, 1, L"same"));
    ASSERT_TRUE(append(*table, 2, L"other"));
    FieldList record = recordOf(*table);
    ASSERT_TRUE(table->readRecord(0, record));
    ASSERT_TRUE(table->updateRecord(0, record));
    EXPECT_EQ(walk(*table), (std::vector<uint32_t>{1, 2}));
    ASSERT_TRUE(table->readRecord(2, record));
    EXPECT_EQ(number(record, L"ID"), 1u);
    EXPECT_EQ(text(record, L"NAME"), L"same");
    EXPECT_FALSE(table->updateRecord(0, record));  // no longer in use: nothing is added
    EXPECT_EQ(walk(*table), (std::vector<uint32_t>{1, 2}));
}

// A process that ends without closing its files leaves each of them with zero-filled room up to
// a multiple of 32 KiB. Such files open and keep working.
TEST_F(TableTest, FilesLeftUnclosedReopenAndWork) {
    auto table = makeTable(L"Z", {{L"ID", FT_UINT32}, {L"NAME", FT_STRING}});
    ASSERT_TRUE(table->createIndex(L"Z_NAME", L"NAME"));
    ASSERT_TRUE(append(*table, 1, L"one"));
    ASSERT_TRUE(append(*table, 2, L"two"));
    ASSERT_TRUE(table->close());
    for (const wchar_t* name : {L"Z.dat", L"Z.pxx", L"Z_idx.dat", L"Z_NAME.idx"})
        tabletest::addSlack(file(name));

    ASSERT_TRUE(table->open());
    ASSERT_NE(table->findIndex(L"NAME"), nullptr);
    EXPECT_EQ(walk(*table), (std::vector<uint32_t>{0, 1}));
    EXPECT_EQ(lookup(*table, L"NAME", L"TWO"), (std::vector<uint32_t>{1}));
    ASSERT_TRUE(append(*table, 3, L"three"));
    // The zero entries count as free numbers: the new record comes after them.
    const uint32_t third = 32768 / 4;
    EXPECT_EQ(walk(*table), (std::vector<uint32_t>{0, 1, third}));
    EXPECT_EQ(lookup(*table, L"NAME", L"THREE"), (std::vector<uint32_t>{third}));
    FieldList record = recordOf(*table);
    ASSERT_TRUE(table->readRecord(third, record));
    EXPECT_EQ(text(record, L"NAME"), L"three");
}

// The table mutex N "_t_mutex" exists exactly as long as the table object.
TEST_F(TableTest, TableMutexLivesWithTheTable) {
    const std::wstring name = testsupport::uniqueName(L"M");
    const std::wstring mutexName = name + L"_t_mutex";
    {
        Table table(name.c_str(), dir_.wide().c_str(), false);
        auto other = createMutex(mutexName.c_str());
        ASSERT_NE(other, nullptr);
        EXPECT_FALSE(other->created);
    }
    auto after = createMutex(mutexName.c_str());
    ASSERT_NE(after, nullptr);
    EXPECT_TRUE(after->created);
}

// A reader opens the files of a table that a writer holds open (with the writer's spare room
// on disk): it reads and looks up what is there, every change is refused, and it leaves every
// file byte for byte as it found it, so the writer carries on undisturbed.
TEST_F(TableTest, ReadOnlyOpenBesideALiveWriterChangesNothing) {
    auto writer = makeTable(L"R", {{L"ID", FT_UINT32}, {L"NAME", FT_STRING}});
    ASSERT_TRUE(writer->createIndex(L"R_NAME", L"NAME"));
    ASSERT_TRUE(append(*writer, 1, L"one"));
    ASSERT_TRUE(append(*writer, 2, L"two"));
    const std::vector<const wchar_t*> names = {L"R.dat", L"R.pxx", L"R_idx.dat", L"R_NAME.idx"};
    std::vector<Bytes> before;
    for (const wchar_t* name : names)
        before.push_back(readBytes(file(name)));

    Table reader(L"R", dir_.wide().c_str(), false);
    ASSERT_TRUE(reader.open(true));
    EXPECT_TRUE(reader.readOnly());
    EXPECT_EQ(walk(reader), (std::vector<uint32_t>{0, 1}));
    EXPECT_EQ(lookup(reader, L"NAME", L"TWO"), (std::vector<uint32_t>{1}));
    FieldList record = recordOf(reader);
    ASSERT_TRUE(reader.readRecord(0, record));
    EXPECT_EQ(text(record, L"NAME"), L"one");
    EXPECT_FALSE(append(reader, 3, L"three"));
    EXPECT_FALSE(reader.updateRecord(0, record));
    EXPECT_FALSE(reader.removeRecord(1));
    EXPECT_FALSE(reader.createIndex(L"R_ID", L"ID"));
    ASSERT_TRUE(reader.close());
    for (size_t i = 0; i < names.size(); ++i)
        EXPECT_EQ(readBytes(file(names[i])), before[i]) << fs::path(names[i]).string();

    ASSERT_TRUE(append(*writer, 3, L"three"));
    EXPECT_EQ(walk(*writer), (std::vector<uint32_t>{0, 1, 2}));
    ASSERT_TRUE(writer->close());
    // A missing table is not created by a reader.
    Table missing(L"nothing", dir_.wide().c_str(), false);
    EXPECT_FALSE(missing.open(true));
    EXPECT_FALSE(fs::exists(file(L"nothing.dat")));
}
