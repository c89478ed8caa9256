#include "patternset.h"

#include <cwchar>

#include "text/strutil.h"

PatternSet::PatternSet() : lengthMap_(std::make_unique<std::array<uint8_t, kLengthMapSize>>()) {
    lengthMap_->fill(0);
}

PatternSet::~PatternSet() = default;

void PatternSet::fill(std::wstring_view content) {
    size_t at = content.find(L'"');
    while (at != std::wstring_view::npos) {
        const size_t begin = at + 1;
        const size_t end = content.find(L'"', begin);
        if (end == std::wstring_view::npos) {
            add(content.substr(begin));
            return;
        }
        add(content.substr(begin, end - begin));
        at = content.find(L'"', end + 1);
    }
}

uint32_t PatternSet::store(Kind kind, std::wstring_view item, size_t hashedLength) {
    // Hashed classes need a length-map entry; an item too long for the map keeps its exact
    // meaning as a general item matched by wildcard.
    if (kind != GENERAL && hashedLength >= kLengthMapSize)
        kind = GENERAL;
    switch (kind) {
        case EXACT:
            exact_.emplace_back(item);
            break;
        case SUFFIX:
            suffix_.emplace_back(item.substr(1));
            break;
        case PREFIX:
            prefix_.emplace_back(item.substr(0, item.size() - 1));
            break;
        case GENERAL:
            general_.emplace_back(item);
            break;
    }
    if (kind != GENERAL)
        (*lengthMap_)[hashedLength] = static_cast<uint8_t>((*lengthMap_)[hashedLength] | kind);
    kinds_ |= kind;
    return kind;
}

uint32_t PatternSet::add(std::wstring_view item) {
    if (matchAll_ || item.empty())
        return 0;
    size_t wildcards = 0;
    for (wchar_t c : item)
        wildcards += (c == L'*' || c == L'?') ? 1 : 0;
    const size_t length = item.size();
    if (wildcards == 0)
        return store(EXACT, item, length);
    if (wildcards == 1 && item.front() == L'*') {
        if (length == 1) {
            matchAll_ = true;
            return 0;
        }
        return store(SUFFIX, item, length - 1);
    }
    if (wildcards == 1 && item.back() == L'*')
        return store(PREFIX, item, length - 1);
    return store(GENERAL, item, length);
}

void PatternSet::build(bool caseSensitive) {
    caseSensitive_ = caseSensitive;
    for (auto* list : {&exact_, &suffix_, &prefix_, &general_}) {
        for (std::wstring& item : *list)
            toLower(item.data());
    }
    if (kinds_ & EXACT)
        exactTable_ = std::make_unique<KeyHashTable>(exact_, caseSensitive);
    if (kinds_ & SUFFIX)
        suffixTable_ = std::make_unique<KeyHashTable>(suffix_, caseSensitive);
    if (kinds_ & PREFIX)
        prefixTable_ = std::make_unique<KeyHashTable>(prefix_, caseSensitive);
    built_ = true;
}

bool PatternSet::matches(const wchar_t* s) const {
    return matches(s, s ? std::wcslen(s) : 0);
}

bool PatternSet::matches(const wchar_t* text, size_t n) const {
    if (!built_)
        return false;
    if (matchAll_)
        return true;
    const std::wstring_view s(text ? text : L"", text ? n : 0);
    if (exactTable_ && lengthHas(n, EXACT) && exactTable_->contains(s))
        return true;
    if (suffixTable_) {
        // Every tail, the whole string included, shorter than the length map.
        for (size_t i = n >= kLengthMapSize ? n - kLengthMapSize + 1 : 0; i < n; ++i) {
            if (lengthHas(n - i, SUFFIX) && suffixTable_->contains(s.substr(i)))
                return true;
        }
    }
    if (prefixTable_) {
        for (size_t k = 1; k <= n && k < kLengthMapSize; ++k) {
            if (lengthHas(k, PREFIX) && prefixTable_->contains(s.substr(0, k)))
                return true;
        }
    }
    for (const std::wstring& item : general_) {
        if (matchWildcard(item.c_str(), s.data(), caseSensitive_))
            return true;
    }
    return false;
}

const std::vector<std::wstring>& PatternSet::items(Kind kind) const {
    switch (kind) {
        case EXACT:
            return exact_;
        case SUFFIX:
            return suffix_;
        case PREFIX:
            return prefix_;
        default:
            return general_;
    }
}

const KeyHashTable* PatternSet::table(Kind kind) const {
    switch (kind) {
        case EXACT:
            return exactTable_.get();
        case SUFFIX:
            return suffixTable_.get();
        case PREFIX:
            return prefixTable_.get();
        default:
            return nullptr;
    }
}
