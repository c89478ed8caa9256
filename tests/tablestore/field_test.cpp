#include "field.h"

#include <gtest/gtest.h>

#include <string>

TEST(FieldList, AddFindAndRefuse) {
    FieldList list;
    EXPECT_TRUE(list.addField(L"ID", FT_UINT32));
    EXPECT_TRUE(list.addField(L"NAME", FT_STRING));
    EXPECT_FALSE(list.addField(L"BAD", 7));
    EXPECT_FALSE(list.addField(L"BAD", 0));
    EXPECT_FALSE(list.addField(nullptr, FT_UINT8));
    EXPECT_EQ(list.fieldCount(), 2u);
    EXPECT_EQ(list.findField(L"NAME"), list.fieldAt(1));
    EXPECT_EQ(list.findField(L"name"), nullptr);  // exact names only
    // Duplicates are accepted; the first is found.
    EXPECT_TRUE(list.addField(L"ID", FT_UINT8));
    EXPECT_EQ(list.findField(L"ID")->type(), FT_UINT32);
}

TEST(Field, NullFlagAndValues) {
    FieldList list;
    list.addField(L"A", FT_UINT64);
    auto* a = static_cast<UInt64Field*>(list.findField(L"A"));
    EXPECT_EQ(a->isNull, 1);
    EXPECT_EQ(a->getValue(), 0u);
    a->setValue(1ull << 40);
    EXPECT_EQ(a->isNull, 0);
    EXPECT_EQ(a->getValue(), 1ull << 40);
    EXPECT_EQ(a->storedSize(), 10u);
}

TEST(StringField, LongTextsMoveToTheirOwnBufferAndBack) {
    StringField f(L"S");
    EXPECT_STREQ(f.getValue(), L"");
    EXPECT_EQ(f.isNull, 1);
    const std::wstring longText(200, L'x');
    f.setValue(longText.c_str());
    EXPECT_EQ(std::wstring(f.getValue()), longText);
    EXPECT_EQ(f.storedSize(), 406u);
    f.setValue(L"abc");
    EXPECT_STREQ(f.getValue(), L"abc");
    const std::wstring edge(StringField::kInlineUnits, L'y');  // 128 units: no longer inline
    f.setValue(edge.c_str());
    EXPECT_EQ(std::wstring(f.getValue()), edge);
    f.setValue(nullptr);
    EXPECT_EQ(f.getValue(), nullptr);
    EXPECT_EQ(f.isNull, 0);  // a null text leaves the flag as it was
    EXPECT_EQ(f.storedSize(), 6u);

    StringField unnamed(nullptr);
    unnamed.setValue(L"ignored");
    EXPECT_STREQ(unnamed.getValue(), L"");
    EXPECT_EQ(unnamed.isNull, 1);
}

TEST(ByteStringField, LengthPrefixedValue) {
    ByteStringField f(L"B");
    const uint8_t value[] = {3, 'a', 'b', 'c', 'z'};
    f.setValue(value);
    ASSERT_NE(f.getValue(), nullptr);
    EXPECT_EQ(f.getValue()[0], 3);
    EXPECT_EQ(f.getValue()[3], 'c');
    EXPECT_EQ(f.storedSize(), 4u);
    f.setValue(nullptr);
    EXPECT_EQ(f.getValue(), nullptr);
}

TEST(FieldList, ResetFromCopiesSchemaAndValues) {
    FieldList schema;
    schema.addField(L"ID", FT_UINT32);
    schema.addField(L"NAME", FT_STRING);
    static_cast<UInt32Field*>(schema.fieldAt(0))->setValue(9);
    const std::wstring longName(300, L'n');
    static_cast<StringField*>(schema.fieldAt(1))->setValue(longName.c_str());

    FieldList record;
    record.addField(L"OLD", FT_UINT8);
    record.resetFrom(schema);
    ASSERT_EQ(record.fieldCount(), 2u);
    EXPECT_STREQ(record.fieldAt(0)->name(), L"ID");
    EXPECT_EQ(static_cast<UInt32Field*>(record.fieldAt(0))->getValue(), 9u);
    EXPECT_EQ(record.fieldAt(0)->isNull, 0);
    auto* name = static_cast<StringField*>(record.fieldAt(1));
    EXPECT_EQ(std::wstring(name->getValue()), longName);
    // A deep copy: changing the schema leaves the record alone.
    static_cast<StringField*>(schema.fieldAt(1))->setValue(L"other");
    EXPECT_EQ(std::wstring(name->getValue()), longName);
}
