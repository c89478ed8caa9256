#include "inlinetext.h"

#include <cwchar>

InlineText& InlineText::operator=(const InlineText& other) {
    if (this != &other)
        assign(other.data_, other.length_);
    return *this;
}

void InlineText::clear() {
    heap_.reset();
    data_ = inline_;
    inline_[0] = L'\0';
    length_ = 0;
}

void InlineText::assign(const wchar_t* text) {
    if (text == nullptr) {
        clear();
        return;
    }
    assign(text, std::wcslen(text));
}

void InlineText::assign(const wchar_t* text, size_t length) {
    // The old buffer is released only after the copy, so text may point into this string.
    if (length < kInlineUnits) {
        if (length != 0)
            std::wmemmove(inline_, text, length);
        inline_[length] = L'\0';
        heap_.reset();
        data_ = inline_;
    } else {
        auto buffer = std::make_unique<wchar_t[]>(length + 1);
        std::wmemcpy(buffer.get(), text, length);
        buffer[length] = L'\0';
        heap_ = std::move(buffer);
        data_ = heap_.get();
    }
    length_ = length;
}

void InlineText::append(const wchar_t* text, size_t length) {
    const size_t total = length_ + length;
    if (total < kInlineUnits) {
        // Both parts are short, so the text is (and stays) inline.
        std::wmemcpy(inline_ + length_, text, length);
    } else {
        auto grown = std::make_unique<wchar_t[]>(total + 1);
        std::wmemcpy(grown.get(), data_, length_);
        std::wmemcpy(grown.get() + length_, text, length);
        heap_ = std::move(grown);
        data_ = heap_.get();
    }
    data_[total] = L'\0';
    length_ = total;
}
