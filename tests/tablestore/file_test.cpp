#include "file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <numeric>
#include <vector>

#include "diskfiles.h"
#include "fileio.h"
#include "testsupport.h"

using testsupport::readBytes;
using testsupport::TempDir;
namespace fs = std::filesystem;

namespace {

uint32_t diskSize(File& file) {
    uint32_t size = 0;
    EXPECT_TRUE(file.getSize(size));
    return size;
}

std::unique_ptr<File> openFile(const fs::path& path) {
    auto file = createFile(path.wstring().c_str());
    EXPECT_TRUE(file->open());
    return file;
}

}  // namespace

TEST(MappedFile, NoPathNoFile) {
    EXPECT_EQ(createFile(nullptr), nullptr);
    Win32File file(nullptr);
    EXPECT_FALSE(file.create());
    EXPECT_FALSE(file.open());
    EXPECT_FALSE(file.close());
    uint32_t size = 0;
    EXPECT_FALSE(file.getSize(size));
    EXPECT_EQ(file.write("x", 1), 0u);
}

TEST(MappedFile, OpenCreateAndCloseStates) {
    TempDir dir;
    const fs::path path = dir.path() / "a.bin";
    auto file = createFile(path.wstring().c_str());
    EXPECT_FALSE(file->open());  // missing
    ASSERT_TRUE(file->create());
    EXPECT_FALSE(file->create());  // already open
    EXPECT_FALSE(file->open());
    EXPECT_EQ(file->write("abcdef", 6), 6u);
    EXPECT_TRUE(file->close());
    EXPECT_FALSE(file->close());
    EXPECT_EQ(readBytes(path), tabletest::bytes({'a', 'b', 'c', 'd', 'e', 'f'}));

    // The object may be opened again; create empties the existing file.
    ASSERT_TRUE(file->open());
    EXPECT_EQ(diskSize(*file), 6u);
    char head[3] = {};
    EXPECT_EQ(file->read(head, 3), 3u);
    EXPECT_EQ(std::string(head, 3), "abc");
    EXPECT_TRUE(file->close());
    ASSERT_TRUE(file->create());
    EXPECT_EQ(diskSize(*file), 0u);
    EXPECT_TRUE(file->close());
    EXPECT_EQ(fs::file_size(path), 0u);
}

TEST(MappedFile, GrowsInStepsAndCloseCutsTheSpareRoom) {
    TempDir dir;
    const fs::path path = dir.path() / "grow.bin";
    tabletest::writeBytes(path, {});
    auto file = openFile(path);
    EXPECT_EQ(diskSize(*file), 0u);
    EXPECT_EQ(file->write("\x01\x02\x03\x04", 4), 4u);
    EXPECT_EQ(diskSize(*file), 32768u);
    EXPECT_EQ(file->tell(), 4u);
    EXPECT_TRUE(file->close());
    EXPECT_EQ(readBytes(path), tabletest::bytes({1, 2, 3, 4}));

    // A write of exactly one step grows by two.
    ASSERT_TRUE(file->create());
    const std::vector<uint8_t> block(32768, 0xAB);
    EXPECT_EQ(file->write(block.data(), 32768), 32768u);
    EXPECT_EQ(diskSize(*file), 65536u);
    EXPECT_EQ(file->write(block.data(), 32768), 32768u);  // fits: no growth
    EXPECT_EQ(diskSize(*file), 65536u);
    EXPECT_EQ(file->write("z", 1), 1u);
    EXPECT_EQ(diskSize(*file), 98304u);
    EXPECT_TRUE(file->close());
    EXPECT_EQ(fs::file_size(path), 65537u);
}

TEST(MappedFile, ContentsSurviveEveryRemapping) {
    TempDir dir;
    const fs::path path = dir.path() / "many.bin";
    auto file = createFile(path.wstring().c_str());
    ASSERT_TRUE(file->create());
    std::vector<uint32_t> values(100000);
    std::iota(values.begin(), values.end(), 7u);
    for (uint32_t v : values)
        ASSERT_EQ(file->write(&v, 4), 4u);
    // Overwrite in the middle: the size stays.
    ASSERT_TRUE(file->seek(400, FILE_SEEK_BEGIN));
    const uint32_t marker = 0xDEADBEEF;
    EXPECT_EQ(file->write(&marker, 4), 4u);
    values[100] = marker;
    EXPECT_TRUE(file->seek(0, FILE_SEEK_END));
    EXPECT_EQ(file->tell(), 400000u);

    ASSERT_TRUE(file->seek(0, FILE_SEEK_BEGIN));
    std::vector<uint32_t> back(values.size());
    EXPECT_EQ(file->read(back.data(), 400000), 400000u);
    EXPECT_EQ(back, values);
    EXPECT_TRUE(file->close());
    EXPECT_EQ(fs::file_size(path), 400000u);
}

TEST(MappedFile, SeekStaysInsideTheContents) {
    TempDir dir;
    auto file = createFile((dir.path() / "seek.bin").wstring().c_str());
    ASSERT_TRUE(file->create());
    ASSERT_EQ(file->write("0123456789", 10), 10u);

    EXPECT_TRUE(file->seek(0, FILE_SEEK_END));
    EXPECT_EQ(file->tell(), 10u);
    EXPECT_FALSE(file->seek(1, FILE_SEEK_END));
    EXPECT_EQ(file->tell(), 10u);
    EXPECT_TRUE(file->seek(-10, FILE_SEEK_END));
    EXPECT_EQ(file->tell(), 0u);
    EXPECT_FALSE(file->seek(-11, FILE_SEEK_END));

    EXPECT_TRUE(file->seek(4, FILE_SEEK_BEGIN));
    EXPECT_FALSE(file->seek(-1, FILE_SEEK_BEGIN));
    EXPECT_FALSE(file->seek(11, FILE_SEEK_BEGIN));
    EXPECT_EQ(file->tell(), 4u);
    EXPECT_TRUE(file->seek(10, FILE_SEEK_BEGIN));

    EXPECT_TRUE(file->seek(-3, FILE_SEEK_CURRENT));
    EXPECT_EQ(file->tell(), 7u);
    EXPECT_FALSE(file->seek(4, FILE_SEEK_CURRENT));
    EXPECT_FALSE(file->seek(-8, FILE_SEEK_CURRENT));
    EXPECT_EQ(file->tell(), 7u);

    // Origins count from 1.
    EXPECT_FALSE(file->seek(0, 0));
    EXPECT_FALSE(file->seek(0, 4));
    EXPECT_EQ(file->tell(), 7u);
}

TEST(MappedFile, ShortReadRaisesEofAndFullReadClearsIt) {
    TempDir dir;
    auto file = createFile((dir.path() / "eof.bin").wstring().c_str());
    ASSERT_TRUE(file->create());
    ASSERT_EQ(file->write("abcdef", 6), 6u);
    ASSERT_TRUE(file->seek(4, FILE_SEEK_BEGIN));
    char buffer[4] = {};
    EXPECT_EQ(file->read(buffer, 4), 2u);
    EXPECT_EQ(std::string(buffer, 2), "ef");
    EXPECT_TRUE(file->eof());
    EXPECT_EQ(file->tell(), 6u);
    EXPECT_EQ(file->read(buffer, 1), 0u);  // at the end: nothing
    EXPECT_TRUE(file->eof());
    ASSERT_TRUE(file->seek(0, FILE_SEEK_BEGIN));
    EXPECT_TRUE(file->eof());  // seeking leaves the flag alone
    EXPECT_EQ(file->read(buffer, 4), 4u);
    EXPECT_FALSE(file->eof());
}

TEST(MappedFile, SlackLeftByAnUnclosedFileCountsAsContents) {
    TempDir dir;
    const fs::path path = dir.path() / "slack.bin";
    tabletest::writeBytes(path, tabletest::bytes({9, 8, 7}));
    tabletest::addSlack(path);
    auto file = openFile(path);
    EXPECT_TRUE(file->seek(0, FILE_SEEK_END));
    EXPECT_EQ(file->tell(), 32768u);
    EXPECT_EQ(file->write("!", 1), 1u);
    EXPECT_TRUE(file->close());
    const auto data = readBytes(path);
    ASSERT_EQ(data.size(), 32769u);
    EXPECT_EQ(data[0], 9);
    EXPECT_EQ(data[100], 0);
    EXPECT_EQ(data[32768], '!');
}

// Files reach what a 32-bit size holds and no further. The file is sparse: only the pages
// touched take room.
TEST(MappedFile, StopsAtFourGigabytes) {
    TempDir dir;
    const fs::path path = dir.path() / "big.bin";
    tabletest::writeBytes(path, {});
    tabletest::resizeFile(path, 0xFFFFFFF0ull);
    {
        auto file = openFile(path);
        ASSERT_TRUE(file->seek(0, FILE_SEEK_END));
        EXPECT_EQ(file->tell(), 0xFFFFFFF0u);
        const std::vector<uint8_t> chunk(16, 0x5A);
        EXPECT_EQ(file->write(chunk.data(), 16), 0u);  // would end at 2^32
        EXPECT_EQ(file->tell(), 0xFFFFFFF0u);
        EXPECT_EQ(file->write(chunk.data(), 15), 15u);
        EXPECT_EQ(diskSize(*file), 0xFFFFFFFFu);
        EXPECT_EQ(file->write(chunk.data(), 1), 0u);

        // Offsets beyond 2 GiB are reached in two steps.
        ASSERT_TRUE(fileio::seekTo(*file, 0xFFFFFFF8ull));
        EXPECT_EQ(file->tell(), 0xFFFFFFF8u);
        uint8_t back[8] = {};
        EXPECT_EQ(file->read(back, 8), 7u);
        EXPECT_EQ(back[0], 0x5A);
        EXPECT_EQ(back[6], 0x5A);
        EXPECT_FALSE(fileio::seekTo(*file, 0x100000000ull));
        EXPECT_TRUE(file->close());
    }
    EXPECT_EQ(fs::file_size(path), 0xFFFFFFFFull);

    // A file that a 32-bit size cannot hold is not opened.
    tabletest::resizeFile(path, 0x100000000ull);
    auto file = createFile(path.wstring().c_str());
    EXPECT_FALSE(file->open());
}
