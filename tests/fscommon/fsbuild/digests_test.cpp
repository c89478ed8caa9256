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

namespace fs = std::filesystem;

namespace {

std::wstring md5Hex(const std::string& text) {
    Md5 md5;
    md5.update(text.data(), text.size());
    uint8_t digest[16];
    md5.finish(digest);
    return md5ToHex(digest);
}

uint32_t crcOf(const void* data, size_t n) {
    Crc32 crc;
    crc.update(data, n);
    return crc.value();
}

// The plain bit-by-bit definition, to hold the table version against.
uint32_t crcBitwise(const unsigned char* p, size_t n) {
    uint32_t c = 0xFFFFFFFFu;
    while (n--) {
        c ^= *p++;
        for (int bit = 0; bit < 8; ++bit)
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    }
    return ~c;
}

std::vector<unsigned char> pattern(size_t n) {
    std::vector<unsigned char> bytes(n);
    uint32_t x = 12345;
    for (auto& b : bytes) {
        x = x * 1103515245u + 12345u;
        b = static_cast<unsigned char>(x >> 16);
    }
    return bytes;
}

fs::path writeFile(const fs::path& path, const std::vector<unsigned char>& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return path;
}

// Hands out the file's real bytes and records every read.
class CountingReader : public ContentReader {
  public:
    explicit CountingReader(ContentReader& inner) : inner_(inner) {}
    size_t read(void* buffer, size_t size) override {
        requested.push_back(size);
        const size_t n = inner_.read(buffer, size);
        delivered += n;
        return n;
    }
    std::vector<size_t> requested;
    size_t delivered = 0;

  private:
    ContentReader& inner_;
};

}  // namespace

TEST(Digests, KnownAnswers) {
    // The test suite of RFC 1321.
    EXPECT_EQ(md5Hex(""), L"d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(md5Hex("a"), L"0cc175b9c0f1b6a831c399e269772661");
    EXPECT_EQ(md5Hex("abc"), L"900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(md5Hex("message digest"), L"f96b697d7cb7938d525a2f31aaf161d0");
    EXPECT_EQ(md5Hex("abcdefghijklmnopqrstuvwxyz"), L"c3fcd3d76192e4007dfb496cca67e13b");
    EXPECT_EQ(md5Hex("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
              L"d174ab98d277d9f5a5611c2c9f419d9f");
    std::string eighty;
    for (int k = 0; k < 8; ++k)
        eighty += "1234567890";
    EXPECT_EQ(md5Hex(eighty), L"57edf4a22be3c955ac49da2e2107b67a");
    EXPECT_EQ(crcOf("123456789", 9), 0xCBF43926u);
    EXPECT_EQ(crcOf("", 0), 0u);
}

TEST(Digests, PiecesGiveTheWholeResult) {
    const auto bytes = pattern(3000);
    Md5 whole;
    whole.update(bytes.data(), bytes.size());
    uint8_t expected[16];
    whole.finish(expected);
    // Piece lengths that cross the 64-byte blocks and the 8-byte steps at every offset.
    for (size_t piece : {1u, 7u, 63u, 64u, 65u, 1000u}) {
        Md5 md5;
        Crc32 crc;
        for (size_t at = 0; at < bytes.size(); at += piece) {
            const size_t n = std::min(piece, bytes.size() - at);
            md5.update(bytes.data() + at, n);
            crc.update(bytes.data() + at, n);
        }
        uint8_t digest[16];
        md5.finish(digest);
        EXPECT_EQ(std::memcmp(digest, expected, 16), 0) << piece;
        EXPECT_EQ(crc.value(), crcBitwise(bytes.data(), bytes.size())) << piece;
    }
}

TEST(Digests, FileEdgeCases) {
    testsupport::TempDir dir;
    // Empty file, all three.
    FileDigests d;
    d.flags = DIGEST_ALL;
    d.crc32 = d.q32 = 77;
    const std::string empty = (dir.path() / "empty").string();
    writeFile(empty, {});
    ASSERT_EQ(computeFileDigests(d, empty.c_str()), 0);
    EXPECT_EQ(d.status, 1u);
    EXPECT_EQ(d.crc32, 0u);
    EXPECT_EQ(d.q32, 0u);
    EXPECT_EQ(md5ToHex(d.md5), L"d41d8cd98f00b204e9800998ecf8427e");

    // 1500 bytes: Q32 covers the first 1024, the others everything.
    const auto bytes = pattern(1500);
    const std::string mid = writeFile(dir.path() / "mid", bytes).string();
    d = FileDigests{};
    d.flags = DIGEST_ALL;
    ASSERT_EQ(computeFileDigests(d, mid.c_str()), 0);
    EXPECT_EQ(d.q32, crcBitwise(bytes.data(), 1024));
    EXPECT_EQ(d.crc32, crcBitwise(bytes.data(), 1500));
    Md5 md5;
    md5.update(bytes.data(), bytes.size());
    uint8_t digest[16];
    md5.finish(digest);
    EXPECT_EQ(std::memcmp(d.md5, digest, 16), 0);
}

TEST(Digests, Q32AloneReadsOnlyTheFirstBlock) {
    testsupport::TempDir dir;
    const auto bytes = pattern(5000);
    const std::string path = writeFile(dir.path() / "big", bytes).string();
    ContentFile file;
    ASSERT_TRUE(file.open(path.c_str()));
    CountingReader reader(file);
    FileDigests d;
    d.flags = DIGEST_Q32;
    d.crc32 = 77;
    digestContent(d, reader);
    EXPECT_EQ(reader.requested, std::vector<size_t>{1024});
    EXPECT_EQ(reader.delivered, 1024u);
    EXPECT_EQ(d.q32, crcBitwise(bytes.data(), 1024));
    EXPECT_EQ(d.crc32, 0u);  // not asked: the value of empty input
    EXPECT_EQ(md5ToHex(d.md5), L"d41d8cd98f00b204e9800998ecf8427e");

    // With the whole content asked for, reads go on to the end in chunks of 4096.
    ContentFile again;
    ASSERT_TRUE(again.open(path.c_str()));
    CountingReader all(again);
    d.flags = DIGEST_CRC32 | DIGEST_Q32;
    digestContent(d, all);
    EXPECT_EQ(all.requested, (std::vector<size_t>{4096, 4096, 4096}));
    EXPECT_EQ(d.crc32, crcBitwise(bytes.data(), 5000));
}

TEST(Digests, UnopenableFileLeavesTheFieldsAlone) {
    testsupport::TempDir dir;
    const std::string missing = (dir.path() / "missing").string();
    const std::string directory = dir.path().string();
    // Reading a named pipe would wait for a writer; it is no file to digest.
    const std::string pipe = (dir.path() / "pipe").string();
    std::vector<std::string> paths{missing, directory};
    if (entrysetup::createFifo(pipe))
        paths.push_back(pipe);
    for (const std::string& path : paths) {
        FileDigests d;
        d.flags = DIGEST_ALL;
        d.crc32 = 11;
        d.q32 = 22;
        d.md5[0] = 33;
        EXPECT_EQ(computeFileDigests(d, path.c_str()), -1) << path;
        EXPECT_EQ(d.status, 0u);
        EXPECT_EQ(d.crc32, 11u);
        EXPECT_EQ(d.q32, 22u);
        EXPECT_EQ(d.md5[0], 33);
    }
    // Nothing asked: nothing opened, nothing touched.
    FileDigests none;
    none.crc32 = 11;
    EXPECT_EQ(computeFileDigests(none, missing.c_str()), 0);
    EXPECT_EQ(none.status, 1u);
    EXPECT_EQ(none.crc32, 11u);
}
