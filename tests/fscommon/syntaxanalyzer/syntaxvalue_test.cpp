#include "syntaxvalue.h"

#include <gtest/gtest.h>

#include <string>

#include "patternset.h"

TEST(SyntaxValue, NewValueIsNumericZeroFromOneConstant) {
    SyntaxValue v;
    EXPECT_EQ(v.type, SyntaxValue::NUMERIC);
    EXPECT_EQ(v.number, 0);
    EXPECT_EQ(v.constants, 1);
    EXPECT_EQ(v.references, 0);
    EXPECT_STREQ(v.text(), L"");
    EXPECT_STREQ(v.name(), L"");
    EXPECT_EQ(v.patternSet, nullptr);
}

TEST(SyntaxValue, TextsMoveToTheHeapAt128UnitsAndSurviveCopies) {
    const std::wstring inlineText(127, L'a');
    const std::wstring heapText(128, L'b');
    PatternSet set;
    SyntaxValue v;
    v.type = SyntaxValue::STRING;
    v.setText(inlineText.c_str());
    v.setName(heapText.c_str());
    v.patternSet = &set;
    EXPECT_TRUE(v.textIsInline());
    EXPECT_FALSE(v.nameIsInline());

    SyntaxValue copy(v);
    EXPECT_EQ(copy.text(), inlineText);
    EXPECT_EQ(copy.name(), heapText);
    EXPECT_NE(copy.name(), v.name());  // a deep copy, not a shared buffer
    EXPECT_EQ(copy.patternSet, &set);

    // Assigning a copy back, and assigning a value to itself, change nothing.
    copy.setText(heapText.c_str());
    EXPECT_FALSE(copy.textIsInline());
    v = copy;
    SyntaxValue& alias = v;
    v = alias;
    EXPECT_EQ(v.text(), heapText);
    EXPECT_EQ(v.name(), heapText);
    EXPECT_EQ(v.patternSet, &set);

    // Back to a short text: inline again; null leaves the text empty.
    v.setText(L"x");
    EXPECT_TRUE(v.textIsInline());
    EXPECT_STREQ(v.text(), L"x");
    v.setText(nullptr);
    EXPECT_STREQ(v.text(), L"");
}

TEST(SyntaxValue, AppendingCrossesTheInlineLimit) {
    SyntaxValue v;
    SyntaxValue part;
    part.setText(std::wstring(100, L'p').c_str());
    v.setText(std::wstring(27, L'v').c_str());
    v.appendText(part);  // 127 units: still inline
    EXPECT_TRUE(v.textIsInline());
    EXPECT_EQ(v.textLength(), 127u);
    part.setText(L"z");
    v.appendText(part);  // 128 units
    EXPECT_FALSE(v.textIsInline());
    EXPECT_EQ(std::wstring(v.text()), std::wstring(27, L'v') + std::wstring(100, L'p') + L"z");
}

TEST(SyntaxValue, TextMayBeSetFromItself) {
    SyntaxValue v;
    v.setText(std::wstring(300, L'h').c_str());
    v.setText(v.text() + 100, 200);  // from its own heap buffer
    EXPECT_EQ(std::wstring(v.text()), std::wstring(200, L'h'));
    v.setText(v.text() + 190, 10);  // from the heap into the inline buffer
    EXPECT_TRUE(v.textIsInline());
    EXPECT_EQ(std::wstring(v.text()), std::wstring(10, L'h'));
    v.setText(L"abcdef");
    v.setText(v.text() + 2, 3);  // overlapping, inline
    EXPECT_STREQ(v.text(), L"cde");
    SyntaxValue w;
    w.setText(std::wstring(127, L'w').c_str());
    w.appendText(w);  // doubled: onto the heap
    EXPECT_EQ(std::wstring(w.text()), std::wstring(254, L'w'));
}
