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
    wchar_t* target = reserveExactly(length);
    if (length != 0)
        std::wmemcpy(target, text, length);
    target[length] = L'\0';
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

wchar_t* InlineText::reserveExactly(size_t length) {
    if (length < kInlineUnits) {
        heap_.reset();
        data_ = inline_;
    } else {
        heap_ = std::make_unique<wchar_t[]>(length + 1);
        data_ = heap_.get();
    }
    return data_;
}
