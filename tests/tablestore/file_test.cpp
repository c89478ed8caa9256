#include "file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <numeric>
#include <vector>

#include "diskfiles.h"
#include "fileio.h"
#include "testsupport.h"

using testsupport::readBytes;
namespace fs = std::filesystem;

namespace {

class MappedFile : public ::testing::Test {
  protected:
    std::unique_ptr<File> make(const char* name) {
        return createFile((dir_.path() / name).wstring().c_str());
    }
    static uint32_t diskSize(File& file) {
        uint32_t size = 0;
        EXPECT_TRUE(file.getSize(size));
        return size;
    }
    testsupport::TempDir dir_;
};

}  // namespace

TEST_F(MappedFile, OpenAndCreateRefusals) {
    EXPECT_EQ(createFile(nullptr), nullptr);
    Win32File nameless(nullptr);
    EXPECT_FALSE(nameless.create());
    EXPECT_FALSE(nameless.open());
    EXPECT_EQ(nameless.write("x", 1), 0u);

    auto file = make("a.bin");
    EXPECT_FALSE(file->open());  // missing
    ASSERT_TRUE(file->create());
    EXPECT_FALSE(file->create());  // already open
    EXPECT_EQ(file->write("abc", 3), 3u);
    EXPECT_TRUE(file->close());
    EXPECT_FALSE(file->close());
    // Closed objects open again; create empties the file.
    ASSERT_TRUE(file->open());
    EXPECT_EQ(diskSize(*file), 3u);
    EXPECT_TRUE(file->close());
    ASSERT_TRUE(file->create());
    EXPECT_TRUE(file->close());
    EXPECT_EQ(fs::file_size(dir_.path() / "a.bin"), 0u);
}

TEST_F(MappedFile, GrowsInStepsAndCloseCutsTheSpareRoom) {
    const fs::path path = dir_.path() / "grow.bin";
    tabletest::writeBytes(path, {});
    auto file = make("grow.bin");
    ASSERT_TRUE(file->open());  // empty: nothing mapped yet
    EXPECT_EQ(file->write("\x01\x02\x03\x04", 4), 4u);
    EXPECT_EQ(diskSize(*file), 32768u);
    EXPECT_TRUE(file->close());
    EXPECT_EQ(readBytes(path), tabletest::bytes({1, 2, 3, 4}));

    // A write of exactly one step grows by two.
    ASSERT_TRUE(file->create());
    const std::vector<uint8_t> block(32768, 0xAB);
    EXPECT_EQ(file->write(block.data(), 32768), 32768u);
    EXPECT_EQ(diskSize(*file), 65536u);
    EXPECT_EQ(file->write(block.data(), 32768), 32768u);  // fits
    EXPECT_EQ(diskSize(*file), 65536u);
    EXPECT_TRUE(file->close());
    EXPECT_EQ(fs::file_size(path), 65536u);
}

TEST_F(MappedFile, ContentsSurviveEveryGrowth) {
    auto file = make("many.bin");
    ASSERT_TRUE(file->create());
    std::vector<uint32_t> values(100000);
    std::iota(values.begin(), values.end(), 7u);
    for (uint32_t v : values)
        ASSERT_EQ(file->write(&v, 4), 4u);
    ASSERT_TRUE(file->seek(400, FILE_SEEK_BEGIN));
    values[100] = 0xDEADBEEF;
    EXPECT_EQ(file->write(&values[100], 4), 4u);  // inside: the size stays
    ASSERT_TRUE(file->seek(0, FILE_SEEK_BEGIN));
    std::vector<uint32_t> back(values.size() + 1);
    EXPECT_EQ(file->read(back.data(), 400004), 400000u);
    back.pop_back();
    EXPECT_EQ(back, values);
}

TEST_F(MappedFile, SeekStaysInsideTheContentsAndReadsRaiseEof) {
    auto file = make("seek.bin");
    ASSERT_TRUE(file->create());
    ASSERT_EQ(file->write("abcdef", 6), 6u);
    EXPECT_TRUE(file->seek(0, FILE_SEEK_END));
    EXPECT_EQ(file->tell(), 6u);
    EXPECT_FALSE(file->seek(1, FILE_SEEK_END));
    EXPECT_FALSE(file->seek(-1, FILE_SEEK_BEGIN));
    EXPECT_FALSE(file->seek(-7, FILE_SEEK_CURRENT));
    EXPECT_FALSE(file->seek(0, 0));  // origins count from 1
    EXPECT_EQ(file->tell(), 6u);
    EXPECT_TRUE(file->seek(6, FILE_SEEK_BEGIN));
    EXPECT_TRUE(file->seek(-2, FILE_SEEK_CURRENT));

    char buffer[4] = {};
    EXPECT_EQ(file->read(buffer, 4), 2u);
    EXPECT_EQ(std::string(buffer, 2), "ef");
    EXPECT_TRUE(file->eof());
    EXPECT_EQ(file->tell(), 6u);
    ASSERT_TRUE(file->seek(-6, FILE_SEEK_END));
    EXPECT_TRUE(file->eof());  // seeking leaves the flag alone
    EXPECT_EQ(file->read(buffer, 4), 4u);
    EXPECT_FALSE(file->eof());

    // The same bytes in place, from the position to the end; nothing once closed.
    ASSERT_TRUE(file->seek(2, FILE_SEEK_BEGIN));
    uint32_t available = 0;
    const uint8_t* at = file->peek(available);
    ASSERT_NE(at, nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(at), available), "cdef");
    EXPECT_TRUE(file->close());
    EXPECT_EQ(file->peek(available), nullptr);
    EXPECT_EQ(available, 0u);
}

// Files reach what a 32-bit size holds and no further. The file is sparse: only the pages
// touched take room.
TEST_F(MappedFile, StopsAtFourGigabytes) {
    const fs::path path = dir_.path() / "big.bin";
    tabletest::writeBytes(path, {});
    tabletest::resizeFile(path, 0xFFFFFFF0ull);
    auto file = make("big.bin");
    ASSERT_TRUE(file->open());
    ASSERT_TRUE(file->seek(0, FILE_SEEK_END));
    const std::vector<uint8_t> chunk(16, 0x5A);
    EXPECT_EQ(file->write(chunk.data(), 16), 0u);  // would end at 2^32
    EXPECT_EQ(file->tell(), 0xFFFFFFF0u);
    EXPECT_EQ(file->write(chunk.data(), 15), 15u);
    EXPECT_EQ(diskSize(*file), 0xFFFFFFFFu);
    EXPECT_EQ(file->write(chunk.data(), 1), 0u);
    // Offsets beyond 2 GiB are reached in two steps.
    ASSERT_TRUE(fileio::seekTo(*file, 0xFFFFFFF8ull));
    uint8_t back[8] = {};
    EXPECT_EQ(file->read(back, 8), 7u);
    EXPECT_EQ(back[6], 0x5A);
    EXPECT_TRUE(file->close());
    EXPECT_EQ(fs::file_size(path), 0xFFFFFFFFull);

    // A file that a 32-bit size cannot hold is not opened.
    tabletest::resizeFile(path, 0x100000000ull);
    EXPECT_FALSE(file->open());
}
