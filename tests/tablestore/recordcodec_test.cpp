#include "recordcodec.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "diskfiles.h"
#include "testsupport.h"

using tabletest::bytes;

namespace {

class RecordCodecTest : public ::testing::Test {
  protected:
    // Encodes record with a codec of its own field count.
    std::vector<uint8_t> encode(const FieldList& record, bool compact) {
        RecordCodec codec(compact);
        codec.setFieldCount(record.fieldCount());
        EXPECT_TRUE(codec.encode(record));
        return codec.bytes();
    }

    // Decodes stored bytes into a record made from schema.
    bool decode(const std::vector<uint8_t>& stored, const FieldList& schema, bool compact,
                FieldList& record) {
        auto file = createFile((dir_.path() / "record.bin").wstring().c_str());
        EXPECT_TRUE(file->create());
        if (!stored.empty()) {
            EXPECT_EQ(file->write(stored.data(), static_cast<uint32_t>(stored.size())),
                      stored.size());
        }
        file->seek(0, FILE_SEEK_BEGIN);
        RecordCodec codec(compact);
        codec.setFieldCount(schema.fieldCount());
        record.resetFrom(schema);
        return codec.decode(*file, record);
    }

    std::vector<uint8_t> roundTripText(const std::wstring& text, bool compact) {
        FieldList record;
        record.addField(L"S", FT_STRING);
        static_cast<StringField*>(record.fieldAt(0))->setValue(text.c_str());
        const auto stored = encode(record, compact);
        FieldList back;
        EXPECT_TRUE(decode(stored, record, compact, back));
        EXPECT_EQ(std::wstring(static_cast<StringField*>(back.fieldAt(0))->getValue()), text);
        return stored;
    }

    testsupport::TempDir dir_;
};

FieldList oneNumber(int32_t type) {
    FieldList record;
    record.addField(L"N", type);
    return record;
}

}  // namespace

TEST_F(RecordCodecTest, CompactNumbersUseSevenBitGroups) {
    struct Case {
        uint32_t value;
        std::vector<uint8_t> stored;
    };
    const Case cases[] = {
        {0, bytes({0x00, 0x00})},
        {5, bytes({0x00, 0x0A})},
        {128, bytes({0x00, 0x03, 0x00})},
        {300, bytes({0x00, 0x05, 0x58})},
        {0xFFFFFFFF, bytes({0x00, 0x1F, 0xFF, 0xFF, 0xFF, 0xFE})},
    };
    for (const Case& c : cases) {
        FieldList record = oneNumber(FT_UINT32);
        static_cast<UInt32Field*>(record.fieldAt(0))->setValue(c.value);
        EXPECT_EQ(encode(record, true), c.stored) << c.value;
        FieldList back;
        ASSERT_TRUE(decode(c.stored, record, true, back));
        EXPECT_EQ(static_cast<UInt32Field*>(back.fieldAt(0))->getValue(), c.value);
    }

    FieldList wide = oneNumber(FT_UINT64);
    static_cast<UInt64Field*>(wide.fieldAt(0))->setValue(~0ull);
    const auto stored = encode(wide, true);
    EXPECT_EQ(stored.size(), 11u);  // bitmap and ten bytes
    FieldList back;
    ASSERT_TRUE(decode(stored, wide, true, back));
    EXPECT_EQ(static_cast<UInt64Field*>(back.fieldAt(0))->getValue(), ~0ull);
}

TEST_F(RecordCodecTest, FixedNumbersAreLittleEndianAtFullWidth) {
    FieldList record;
    record.addField(L"A", FT_UINT8);
    record.addField(L"B", FT_UINT16);
    record.addField(L"C", FT_UINT32);
    record.addField(L"D", FT_UINT64);
    static_cast<UInt8Field*>(record.fieldAt(0))->setValue(0x12);
    static_cast<UInt16Field*>(record.fieldAt(1))->setValue(0x3456);
    static_cast<UInt32Field*>(record.fieldAt(2))->setValue(0x789ABCDE);
    static_cast<UInt64Field*>(record.fieldAt(3))->setValue(0x0102030405060708ull);
    const auto stored = encode(record, false);
    EXPECT_EQ(stored, bytes({0x00, 0x12, 0x56, 0x34, 0xDE, 0xBC, 0x9A, 0x78, 0x08, 0x07, 0x06, 0x05,
                             0x04, 0x03, 0x02, 0x01}));
    FieldList back;
    ASSERT_TRUE(decode(stored, record, false, back));
    EXPECT_EQ(static_cast<UInt16Field*>(back.fieldAt(1))->getValue(), 0x3456);
    EXPECT_EQ(static_cast<UInt64Field*>(back.fieldAt(3))->getValue(), 0x0102030405060708ull);

    // The compact form keeps the low 16 bits of a decoded 16-bit field.
    FieldList small = oneNumber(FT_UINT16);
    ASSERT_TRUE(decode(bytes({0x00, 0x0B, 0x05, 0x04}), small, true, back));
    EXPECT_EQ(static_cast<UInt16Field*>(back.fieldAt(0))->getValue(), 0x4102);
}

TEST_F(RecordCodecTest, NullBitmapTakesOneBitPerFieldMostSignificantFirst) {
    FieldList eight;
    for (int i = 0; i < 8; ++i)
        eight.addField(std::to_wstring(i).c_str(), FT_UINT8);
    EXPECT_EQ(encode(eight, false).size(), 1u + 8u);

    FieldList nine;
    for (int i = 0; i < 9; ++i)
        nine.addField(std::to_wstring(i).c_str(), FT_UINT8);
    for (int i = 1; i < 8; ++i)
        static_cast<UInt8Field*>(nine.fieldAt(i))->setValue(static_cast<uint8_t>(i));
    const auto stored = encode(nine, false);
    ASSERT_EQ(stored.size(), 2u + 9u);
    EXPECT_EQ(stored[0], 0x80);  // fields 0 and 8 are null
    EXPECT_EQ(stored[1], 0x80);
    EXPECT_EQ(stored[2], 0x00);  // a null field holds its value
    FieldList back;
    ASSERT_TRUE(decode(stored, nine, false, back));
    for (int i = 0; i < 9; ++i)
        EXPECT_EQ(back.fieldAt(i)->isNull, i == 0 || i == 8 ? 1 : 0) << i;
    EXPECT_EQ(static_cast<UInt8Field*>(back.fieldAt(7))->getValue(), 7);
}

TEST_F(RecordCodecTest, StringsAreStoredAsLengthAndUtf8) {
    EXPECT_EQ(roundTripText(L"", false), bytes({0x00, 0x00, 0x00}));
    EXPECT_EQ(roundTripText(L"", true), bytes({0x00, 0x00}));
    EXPECT_EQ(roundTripText(L"\x00E9", false), bytes({0x00, 0x02, 0x00, 0xC3, 0xA9}));
    EXPECT_EQ(roundTripText(L"\x00E9", true), bytes({0x00, 0x04, 0xC3, 0xA9}));
    EXPECT_EQ(roundTripText(L"ab\x20AC", false),
              bytes({0x00, 0x05, 0x00, 'a', 'b', 0xE2, 0x82, 0xAC}));
    // Lengths above 127 take two bytes in the compact form.
    const auto stored = roundTripText(std::wstring(200, L'x'), true);
    EXPECT_EQ(stored[1], 0x03);
    EXPECT_EQ(stored[2], 0x90);
    EXPECT_EQ(stored.size(), 3u + 200u);
}

// Each wide unit is encoded by itself: Windows writes the two halves of a surrogate pair as
// three bytes each; Linux writes the code point, and the escape units of bytes that were not
// UTF-8 as three bytes like any other unit. Decoding is the exact inverse either way.
TEST_F(RecordCodecTest, WideUnitsAreEncodedOneByOne) {
    if constexpr (sizeof(wchar_t) == 2) {
        const std::wstring pair = {static_cast<wchar_t>(0xD83D), static_cast<wchar_t>(0xDE00)};
        EXPECT_EQ(roundTripText(pair, false),
                  bytes({0x00, 0x06, 0x00, 0xED, 0xA0, 0xBD, 0xED, 0xB8, 0x80}));
        const std::wstring lone = {L'a', static_cast<wchar_t>(0xDC80)};
        EXPECT_EQ(roundTripText(lone, false), bytes({0x00, 0x04, 0x00, 'a', 0xED, 0xB2, 0x80}));
    } else {
        const std::wstring emoji = {static_cast<wchar_t>(0x1F600)};
        EXPECT_EQ(roundTripText(emoji, false), bytes({0x00, 0x04, 0x00, 0xF0, 0x9F, 0x98, 0x80}));
        const std::wstring escaped = {L'a', static_cast<wchar_t>(0xDC80),
                                      static_cast<wchar_t>(0xDCFF)};
        EXPECT_EQ(roundTripText(escaped, false),
                  bytes({0x00, 0x07, 0x00, 'a', 0xED, 0xB2, 0x80, 0xED, 0xB3, 0xBF}));
    }
}

TEST_F(RecordCodecTest, StringsBeyondSixtyFourKilobytesAreRefused) {
    FieldList record;
    record.addField(L"S", FT_STRING);
    auto* text = static_cast<StringField*>(record.fieldAt(0));
    RecordCodec codec(false);
    codec.setFieldCount(1);
    const std::wstring longest(kMaxStoredText, L'a');
    text->setValue(longest.c_str());
    EXPECT_TRUE(codec.encode(record));
    EXPECT_EQ(codec.bytes().size(), 1u + 2u + kMaxStoredText);
    const std::wstring tooLong = longest + L"b";
    text->setValue(tooLong.c_str());
    EXPECT_FALSE(codec.encode(record));
    // Counted in UTF-8 bytes, not in units.
    const std::wstring wideUnits(kMaxStoredText / 2, static_cast<wchar_t>(0xE9));
    text->setValue(wideUnits.c_str());
    EXPECT_TRUE(codec.encode(record));
    text->setValue((wideUnits + L"\x00E9").c_str());
    EXPECT_FALSE(codec.encode(record));
}

TEST_F(RecordCodecTest, ByteStringsKeepTheirLengthAndContent) {
    FieldList record;
    record.addField(L"B", FT_BYTES);
    record.addField(L"N", FT_UINT8);
    const uint8_t value[] = {3, 'x', 'y', 'z'};
    static_cast<ByteStringField*>(record.fieldAt(0))->setValue(value);
    static_cast<UInt8Field*>(record.fieldAt(1))->setValue(42);
    for (bool compact : {false, true}) {
        const auto stored = encode(record, compact);
        EXPECT_EQ(stored, bytes({0x00, 3, 'x', 'y', 'z', 42}));
        FieldList back;
        ASSERT_TRUE(decode(stored, record, compact, back));
        const uint8_t* got = static_cast<ByteStringField*>(back.fieldAt(0))->getValue();
        EXPECT_EQ(std::vector<uint8_t>(got, got + 4), std::vector<uint8_t>(value, value + 4));
        EXPECT_EQ(static_cast<UInt8Field*>(back.fieldAt(1))->getValue(), 42);
    }
}

TEST_F(RecordCodecTest, DamagedRecordsFailToDecode) {
    FieldList numbers = oneNumber(FT_UINT32);
    FieldList back;
    EXPECT_FALSE(decode({}, numbers, false, back));                        // no bitmap
    EXPECT_FALSE(decode(bytes({0x00, 1, 2, 3}), numbers, false, back));    // cut short
    EXPECT_FALSE(decode(bytes({0x00, 0x81, 0x81}), numbers, true, back));  // number cut short
    // A variable-length number longer than any 64-bit value.
    std::vector<uint8_t> endless(12, 0x81);
    endless[0] = 0x00;
    EXPECT_FALSE(decode(endless, numbers, true, back));

    FieldList text;
    text.addField(L"S", FT_STRING);
    EXPECT_FALSE(decode(bytes({0x00, 0xFF, 0xFF, 'a', 'b'}), text, false, back));
    EXPECT_TRUE(decode(bytes({0x00, 0x02, 0x00, 'a', 'b'}), text, false, back));

    FieldList raw;
    raw.addField(L"B", FT_BYTES);
    EXPECT_FALSE(decode(bytes({0x00, 200, 'a'}), raw, false, back));
}
