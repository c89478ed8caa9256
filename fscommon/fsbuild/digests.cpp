#include <cstring>

#include "fsbuild/contentfile.h"
#include "fsbuild/crc32.h"
#include "fsbuild/fsbuild.h"
#include "fsbuild/md5.h"

void digestContent(FileDigests& digests, ContentReader& reader) {
    const bool wantCrc = (digests.flags & DIGEST_CRC32) != 0;
    const bool wantQ32 = (digests.flags & DIGEST_Q32) != 0;
    const bool wantMd5 = (digests.flags & DIGEST_MD5) != 0;
    // Only the first block is needed when neither whole-content digest is asked for.
    const bool wholeContent = wantCrc || wantMd5;
    const size_t chunk = wholeContent ? 4096 : kQ32Length;

    Crc32 crc;
    Crc32 q32;
    Md5 md5;
    size_t q32Fed = 0;
    unsigned char buffer[4096];
    while (wholeContent || (wantQ32 && q32Fed < kQ32Length)) {
        const size_t n = reader.read(buffer, wholeContent ? chunk : chunk - q32Fed);
        if (n == 0)
            break;
        if (wantMd5)
            md5.update(buffer, n);
        if (wantCrc)
            crc.update(buffer, n);
        // The first 1024 bytes of content, even when a read brings fewer.
        if (wantQ32 && q32Fed < kQ32Length) {
            const size_t take = n < kQ32Length - q32Fed ? n : kQ32Length - q32Fed;
            q32.update(buffer, take);
            q32Fed += take;
        }
    }
    digests.crc32 = crc.value();
    digests.q32 = q32.value();
    md5.finish(digests.md5);
}

int computeFileDigests(FileDigests& digests, const char* path) {
    digests.status = 1;
    if (digests.flags == 0)
        return 0;
    ContentFile file;
    if (path == nullptr || !file.open(path)) {
        digests.status = 0;
        return -1;
    }
    digestContent(digests, file);
    return 0;
}

std::wstring md5ToHex(const uint8_t digest[16]) {
    static constexpr wchar_t kDigits[] = L"0123456789abcdef";
    std::wstring hex(32, L'0');
    for (int k = 0; k < 16; ++k) {
        hex[2 * k] = kDigits[digest[k] >> 4];
        hex[2 * k + 1] = kDigits[digest[k] & 0xF];
    }
    return hex;
}
