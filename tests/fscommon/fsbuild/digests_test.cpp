#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "../listing/entrysetup.h"
#include "fsbuild/contentfile.h"
#include "fsbuild/crc32.h"
#include "fsbuild/fsbuild.h"
#include "fsbuild/md5.h"
#include "testsupport.h"
#include "text/utf8.h"

namespace {

const std::wstring kEmptyMd5 = L"d41d8cd98f00b204e9800998ecf8427e";

// MD5 and CRC-32 of data fed in pieces of the given length.
std::pair<std::wstring, uint32_t> digestsOf(const std::string& data, size_t piece) {
    Md5 md5;
    Crc32 crc;
    for (size_t at = 0; at < data.size(); at += piece) {
        md5.update(data.data() + at, std::min(piece, data.size() - at));
        crc.update(data.data() + at, std::min(piece, data.size() - at));
    }
    uint8_t digest[16];
    md5.finish(digest);
    return {md5ToHex(digest), crc.value()};
}

// The bit-by-bit definition, to hold the table version against.
uint32_t crcBitwise(const std::string& data, size_t n) {
    uint32_t c = 0xFFFFFFFFu;
    for (size_t k = 0; k < n; ++k) {
        c ^= static_cast<unsigned char>(data[k]);
        for (int bit = 0; bit < 8; ++bit)
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    }
    return ~c;
}

std::string pattern(size_t n) {
    std::string bytes(n, '\0');
    uint32_t x = 12345;
    for (char& b : bytes)
        b = static_cast<char>((x = x * 1103515245u + 12345u) >> 16);
    return bytes;
}

std::string writeFile(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
    return path.string();
}

// Hands out the file's real bytes and records the size of every read asked for.
class CountingReader : public ContentReader {
  public:
    explicit CountingReader(const std::string& path) { EXPECT_TRUE(file_.open(path.c_str())); }
    size_t read(void* buffer, size_t size) override {
        requested.push_back(size);
        return file_.read(buffer, size);
    }
    std::vector<size_t> requested;

  private:
    ContentFile file_;
};

}  // namespace

TEST(Digests, KnownAnswersInAnyPieces) {
    // The test suite of RFC 1321.
    const std::pair<std::string, std::wstring> suite[] = {
        {"", kEmptyMd5},
        {"a", L"0cc175b9c0f1b6a831c399e269772661"},
        {"abc", L"900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", L"f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", L"c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         L"d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         L"57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto& [text, md5] : suite)
        EXPECT_EQ(digestsOf(text, 1000).first, md5) << text;
    EXPECT_EQ(digestsOf("123456789", 1000).second, 0xCBF43926u);
    // Pieces that cross the 64-byte blocks and the 8-byte steps at every offset.
    const std::string data = pattern(3000);
    const auto whole = digestsOf(data, data.size());
    EXPECT_EQ(whole.second, crcBitwise(data, data.size()));
    for (size_t piece : {1u, 7u, 63u, 65u})
        EXPECT_EQ(digestsOf(data, piece), whole) << piece;
}

TEST(Digests, EmptyAndLongerFiles) {
    testsupport::TempDir dir;
    FileDigests d;
    d.flags = DIGEST_ALL;
    d.crc32 = d.q32 = 77;
    ASSERT_EQ(computeFileDigests(d, writeFile(dir.path() / "empty", "").c_str()), 0);
    EXPECT_EQ(d.status, 1u);
    EXPECT_EQ(d.crc32, 0u);
    EXPECT_EQ(d.q32, 0u);
    EXPECT_EQ(md5ToHex(d.md5), kEmptyMd5);

    // Q32 covers the first 1024 bytes, the others everything.
    const std::string bytes = pattern(1500);
    ASSERT_EQ(computeFileDigests(d, writeFile(dir.path() / "mid", bytes).c_str()), 0);
    EXPECT_EQ(d.q32, crcBitwise(bytes, 1024));
    EXPECT_EQ(d.crc32, crcBitwise(bytes, 1500));
    EXPECT_EQ(md5ToHex(d.md5), digestsOf(bytes, 1500).first);
}

TEST(Digests, Q32AloneReadsOnlyTheFirstBlock) {
    testsupport::TempDir dir;
    const std::string bytes = pattern(5000);
    const std::string path = writeFile(dir.path() / "big", bytes);
    CountingReader reader(path);
    FileDigests d;
    d.flags = DIGEST_Q32;
    d.crc32 = 77;
    digestContent(d, reader);
    EXPECT_EQ(reader.requested, std::vector<size_t>{1024});
    EXPECT_EQ(d.q32, crcBitwise(bytes, 1024));
    EXPECT_EQ(d.crc32, 0u);  // not asked for: the value of empty input
    EXPECT_EQ(md5ToHex(d.md5), kEmptyMd5);

    // With a whole-content digest the reads go on to the end, 4096 bytes at a time.
    CountingReader all(path);
    d.flags = DIGEST_CRC32 | DIGEST_Q32;
    digestContent(d, all);
    EXPECT_EQ(all.requested, (std::vector<size_t>{4096, 4096, 4096}));
    EXPECT_EQ(d.crc32, crcBitwise(bytes, 5000));
}

TEST(Digests, UnopenableFileLeavesTheFieldsAlone) {
    testsupport::TempDir dir;
    const std::string missing = (dir.path() / "missing").string();
    std::vector<std::string> paths{missing, dir.path().string()};
    // A named pipe would block the read; it is no file to digest.
    if (entrysetup::createFifo(dir.path() / "pipe"))
        paths.push_back((dir.path() / "pipe").string());
    for (const std::string& path : paths) {
        FileDigests d;
        d.flags = DIGEST_ALL;
        d.crc32 = 11;
        d.q32 = 22;
        d.md5[0] = 33;
        EXPECT_EQ(computeFileDigests(d, path.c_str()), -1) << path;
        EXPECT_EQ(d.status, 0u);
        EXPECT_TRUE(d.crc32 == 11 && d.q32 == 22 && d.md5[0] == 33);
    }
    // Nothing asked for: nothing opened, nothing touched.
    FileDigests none;
    none.crc32 = 11;
    EXPECT_EQ(computeFileDigests(none, missing.c_str()), 0);
    EXPECT_EQ(none.status, 1u);
    EXPECT_EQ(none.crc32, 11u);
}

TEST(Digests, NamesReachTheFileThroughTheCodePage) {
    testsupport::TempDir dir;
    const bool linux = sizeof(wchar_t) == 4;
    std::vector<std::wstring> names{L"plain.txt", L"caf\u00e9.txt", L"\u4e2d\u6587.txt"};
    if (linux)
        names.push_back(utf8::toWide("bad\xFF.txt"));
    for (const std::wstring& name : names) {
        const std::filesystem::path file =
            dir.path() /
            (linux ? std::filesystem::path(utf8::fromWide(name)) : std::filesystem::path(name));
        writeFile(file, "123456789");
        std::string path;
        const bool converted = toCodePagePath(dir.wide() + (linux ? L"/" : L"\\") + name, path);
        // On Windows a character outside the ANSI code page does not convert; what converts
        // must open this very file.
        EXPECT_TRUE(converted || !linux);
        if (converted) {
            FileDigests d;
            d.flags = DIGEST_CRC32;
            EXPECT_EQ(computeFileDigests(d, path.c_str()), 0);
            EXPECT_EQ(d.crc32, 0xCBF43926u);
        }
    }
}
