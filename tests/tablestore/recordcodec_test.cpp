#include "recordcodec.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "diskfiles.h"
#include "testsupport.h"

using tabletest::bytes;
using Bytes = std::vector<uint8_t>;

namespace {

class RecordCodecTest : public ::testing::Test {
  protected:
    static Bytes encode(const FieldList& record, bool compact) {
        RecordCodec codec(compact);
        codec.setFieldCount(record.fieldCount());
        EXPECT_TRUE(codec.encode(record));
        return codec.bytes();
    }

    // Decodes stored bytes into back, made from schema.
    bool decode(const Bytes& stored, const FieldList& schema, bool compact, FieldList& back) {
        auto file = createFile((dir_.path() / "record.bin").wstring().c_str());
        EXPECT_TRUE(file->create());
        file->write(stored.data(), static_cast<uint32_t>(stored.size()));
        file->seek(0, FILE_SEEK_BEGIN);
        RecordCodec codec(compact);
        codec.setFieldCount(schema.fieldCount());
        back.resetFrom(schema);
        return codec.decode(*file, back);
    }

    // Encodes a one-field record holding value, decodes it again and returns the stored bytes.
    template <typename F, typename V>
    Bytes roundTrip(int32_t type, V value, bool compact) {
        FieldList record;
        record.addField(L"V", type);
        static_cast<F*>(record.fieldAt(0))->setValue(value);
        const Bytes stored = encode(record, compact);
        FieldList back;
        EXPECT_TRUE(decode(stored, record, compact, back));
        if constexpr (std::is_same_v<F, StringField>)
            EXPECT_EQ(std::wstring(static_cast<F*>(back.fieldAt(0))->getValue()), value);
        else
            EXPECT_EQ(static_cast<F*>(back.fieldAt(0))->getValue(), value);
        return stored;
    }
    Bytes text(const std::wstring& value, bool compact) {
        return roundTrip<StringField>(FT_STRING, value.c_str(), compact);
    }

    testsupport::TempDir dir_;
};

}  // namespace

TEST_F(RecordCodecTest, Numbers) {
    // Compact: 7-bit groups, most significant first, low bit set on every byte but the last.
    EXPECT_EQ(roundTrip<UInt32Field>(FT_UINT32, 0u, true), bytes({0, 0x00}));
    EXPECT_EQ(roundTrip<UInt32Field>(FT_UINT32, 5u, true), bytes({0, 0x0A}));
    EXPECT_EQ(roundTrip<UInt32Field>(FT_UINT32, 128u, true), bytes({0, 0x03, 0x00}));
    EXPECT_EQ(roundTrip<UInt32Field>(FT_UINT32, 300u, true), bytes({0, 0x05, 0x58}));
    EXPECT_EQ(roundTrip<UInt32Field>(FT_UINT32, 0xFFFFFFFFu, true),
              bytes({0, 0x1F, 0xFF, 0xFF, 0xFF, 0xFE}));
    EXPECT_EQ(roundTrip<UInt64Field>(FT_UINT64, ~0ull, true).size(), 11u);
    EXPECT_EQ(roundTrip<UInt8Field>(FT_UINT8, uint8_t{200}, true), bytes({0, 200}));
    // Fixed: full width, little-endian.
    EXPECT_EQ(roundTrip<UInt16Field>(FT_UINT16, uint16_t{0x3456}, false), bytes({0, 0x56, 0x34}));
    EXPECT_EQ(roundTrip<UInt64Field>(FT_UINT64, 0x0102030405060708ull, false),
              bytes({0, 8, 7, 6, 5, 4, 3, 2, 1}));
}

TEST_F(RecordCodecTest, NullBitmapTakesOneBitPerFieldMostSignificantFirst) {
    FieldList nine;
    for (int i = 0; i < 9; ++i)
        nine.addField(std::to_wstring(i).c_str(), FT_UINT8);
    for (int i = 1; i < 8; ++i)
        static_cast<UInt8Field*>(nine.fieldAt(i))->setValue(static_cast<uint8_t>(i));
    const Bytes stored = encode(nine, false);
    ASSERT_EQ(stored.size(), 2u + 9u);
    EXPECT_EQ(stored[0], 0x80);  // fields 0 and 8 are null
    EXPECT_EQ(stored[1], 0x80);
    EXPECT_EQ(stored[2], 0x00);  // a null field holds its value
    FieldList back;
    ASSERT_TRUE(decode(stored, nine, false, back));
    for (int i = 0; i < 9; ++i)
        EXPECT_EQ(back.fieldAt(i)->isNull, i == 0 || i == 8 ? 1 : 0) << i;
    EXPECT_EQ(static_cast<UInt8Field*>(back.fieldAt(7))->getValue(), 7);

    // A bitmap has room for 256 fields.
    FieldList many;
    for (int i = 0; i < 257; ++i)
        many.addField(L"F", FT_UINT8);
    RecordCodec codec(false);
    codec.setFieldCount(many.fieldCount());
    EXPECT_FALSE(codec.encode(many));
    EXPECT_FALSE(decode(Bytes(300, 0), many, false, back));
}

TEST_F(RecordCodecTest, StringsAreStoredAsLengthAndUtf8) {
    EXPECT_EQ(text(L"", false), bytes({0, 0x00, 0x00}));
    EXPECT_EQ(text(L"", true), bytes({0, 0x00}));
    EXPECT_EQ(text(L"\x00E9", false), bytes({0, 0x02, 0x00, 0xC3, 0xA9}));
    EXPECT_EQ(text(L"\x00E9", true), bytes({0, 0x04, 0xC3, 0xA9}));
    EXPECT_EQ(text(L"b\x20AC", false), bytes({0, 0x04, 0x00, 'b', 0xE2, 0x82, 0xAC}));
    const Bytes stored = text(std::wstring(200, L'x'), true);
    EXPECT_EQ(Bytes(stored.begin(), stored.begin() + 3), bytes({0, 0x03, 0x90}));
}

// Each wide unit is encoded by itself: Windows writes the two halves of a surrogate pair as
// three bytes each; Linux writes the code point, and the escape units of bytes that were not
// UTF-8 as three bytes like any other unit. Decoding is the exact inverse either way.
TEST_F(RecordCodecTest, WideUnitsAreEncodedOneByOne) {
    if constexpr (sizeof(wchar_t) == 2) {
        const std::wstring pair = {static_cast<wchar_t>(0xD83D), static_cast<wchar_t>(0xDE00)};
        EXPECT_EQ(text(pair, false), bytes({0, 0x06, 0x00, 0xED, 0xA0, 0xBD, 0xED, 0xB8, 0x80}));
    } else {
        const std::wstring emoji = {static_cast<wchar_t>(0x1F600)};
        EXPECT_EQ(text(emoji, false), bytes({0, 0x04, 0x00, 0xF0, 0x9F, 0x98, 0x80}));
        const std::wstring escaped = {static_cast<wchar_t>(0xDC80), static_cast<wchar_t>(0xDCFF)};
        EXPECT_EQ(text(escaped, false), bytes({0, 0x06, 0x00, 0xED, 0xB2, 0x80, 0xED, 0xB3, 0xBF}));
    }
}

// A string length is a 16-bit number: longer strings are refused, not cut or wrapped.
TEST_F(RecordCodecTest, StringsBeyondSixtyFourKilobytesAreRefused) {
    FieldList record;
    record.addField(L"S", FT_STRING);
    auto* field = static_cast<StringField*>(record.fieldAt(0));
    RecordCodec codec(false);
    codec.setFieldCount(1);
    const std::wstring longest(kMaxStoredText / 2, static_cast<wchar_t>(0xE9));  // 2 bytes each
    field->setValue((longest + L"a").c_str());
    EXPECT_TRUE(codec.encode(record));
    EXPECT_EQ(codec.bytes().size(), 1u + 2u + kMaxStoredText);
    field->setValue((longest + L"\x00E9").c_str());
    EXPECT_FALSE(codec.encode(record));
}

TEST_F(RecordCodecTest, ByteStringsKeepTheirLengthAndContent) {
    const uint8_t value[] = {3, 'x', 'y', 'z'};
    for (bool compact : {false, true}) {
        FieldList record;
        record.addField(L"B", FT_BYTES);
        static_cast<ByteStringField*>(record.fieldAt(0))->setValue(value);
        EXPECT_EQ(encode(record, compact), bytes({0, 3, 'x', 'y', 'z'}));
        FieldList back;
        ASSERT_TRUE(decode(encode(record, compact), record, compact, back));
        const uint8_t* got = static_cast<ByteStringField*>(back.fieldAt(0))->getValue();
        EXPECT_EQ(Bytes(got, got + 4), Bytes(value, value + 4));
    }
}

TEST_F(RecordCodecTest, DamagedRecordsFailToDecode) {
    FieldList number;
    number.addField(L"N", FT_UINT32);
    FieldList back;
    EXPECT_FALSE(decode({}, number, false, back));                     // no bitmap
    EXPECT_FALSE(decode(bytes({0, 1, 2, 3}), number, false, back));    // cut short
    EXPECT_FALSE(decode(bytes({0, 0x81, 0x81}), number, true, back));  // number cut short
    EXPECT_FALSE(decode(Bytes(12, 0x81), number, true, back));         // longer than 64 bits
    FieldList text;
    text.addField(L"S", FT_STRING);
    EXPECT_FALSE(decode(bytes({0, 0xFF, 0xFF, 'a', 'b'}), text, false, back));
    EXPECT_TRUE(decode(bytes({0, 0x02, 0x00, 'a', 'b'}), text, false, back));
    FieldList raw;
    raw.addField(L"B", FT_BYTES);
    EXPECT_FALSE(decode(bytes({0, 200, 'a'}), raw, false, back));
}

TEST_F(RecordCodecTest, AStoredZeroUnitEndsTheTextAndItsLength) {
    FieldList schema;
    schema.addField(L"V", FT_STRING);
    // Null bitmap, length 5 (fixed width), "ab", a zero byte, "cd".
    const Bytes stored = bytes({0, 5, 0, 'a', 'b', 0, 'c', 'd'});
    FieldList back;
    ASSERT_TRUE(decode(stored, schema, false, back));
    const auto* field = static_cast<const StringField*>(back.fieldAt(0));
    EXPECT_EQ(std::wstring(field->getValue()), L"ab");
    EXPECT_EQ(field->length(), 2u);
    // A long text keeps its length in the field, as a short one does.
    const std::wstring longText(300, L'x');
    text(longText, true);
    StringField copy(L"C");
    copy.setValue(longText.c_str(), 10);
    EXPECT_EQ(std::wstring(copy.getValue()), longText.substr(0, 10));
    EXPECT_EQ(copy.length(), 10u);
}
