// A wide string that keeps short texts inside the object: fewer than 128 units live in an inline
// buffer, longer ones in a heap buffer of exactly length + 1 units. Values and tokens of the
// criteria language hold their text this way, so that evaluating a criteria against record after
// record allocates nothing for ordinary names.
#pragma once

#include <cstddef>
#include <memory>
#include <string_view>

class InlineText {
  public:
    static constexpr size_t kInlineUnits = 128;

    InlineText() { inline_[0] = L'\0'; }
    InlineText(const InlineText& other) : InlineText() { assign(other.data_, other.length_); }
    InlineText& operator=(const InlineText& other);
    ~InlineText() = default;

    // Never null; zero-terminated.
    const wchar_t* c_str() const { return data_; }
    // Writable access to the current buffer (for in-place case changes).
    wchar_t* data() { return data_; }
    size_t size() const { return length_; }
    bool empty() const { return length_ == 0; }
    std::wstring_view view() const { return {data_, length_}; }
    bool isInline() const { return data_ == inline_; }

    void clear();
    // A null text leaves the string empty.
    void assign(const wchar_t* text);
    // text may point into this string.
    void assign(const wchar_t* text, size_t length);
    // Appends length units of text (which may point into this string).
    void append(const wchar_t* text, size_t length);

  private:
    std::unique_ptr<wchar_t[]> heap_;
    wchar_t* data_ = inline_;
    size_t length_ = 0;
    wchar_t inline_[kInlineUnits];
};
