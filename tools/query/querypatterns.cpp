#include "querypatterns.h"

#include <algorithm>

#include "cache/cacheschema.h"

namespace querypatterns {

namespace {

// The brace that closes the one at open, and the commas at its own level; false when it has no
// partner.
bool braceGroup(const std::wstring& text, size_t open, size_t& close, std::vector<size_t>& commas) {
    int depth = 0;
    for (size_t i = open; i < text.size(); ++i) {
        if (text[i] == L'{') {
            ++depth;
        } else if (text[i] == L'}') {
            if (--depth == 0) {
                close = i;
                return true;
            }
        } else if (text[i] == L',' && depth == 1) {
            commas.push_back(i);
        }
    }
    return false;
}

// Stops adding once out holds more than limit names: the caller refuses so many anyway.
void expandInto(const std::wstring& text, std::vector<std::wstring>& out, size_t limit) {
    if (out.size() > limit)
        return;
    for (size_t open = text.find(L'{'); open != std::wstring::npos;
         open = text.find(L'{', open + 1)) {
        size_t close = 0;
        std::vector<size_t> commas;
        if (!braceGroup(text, open, close, commas) || commas.empty())
            continue;
        const std::wstring head = text.substr(0, open);
        const std::wstring tail = text.substr(close + 1);
        commas.push_back(close);
        size_t from = open + 1;
        for (size_t end : commas) {
            expandInto(head + text.substr(from, end - from) + tail, out, limit);
            from = end + 1;
        }
        return;
    }
    out.push_back(text);
}

std::wstring inQuotes(const std::wstring& text) {
    return L"\"" + text + L"\"";
}

}  // namespace

std::vector<std::wstring> expandBraces(const std::wstring& pattern) {
    std::vector<std::wstring> out;
    expandInto(pattern, out, kMaxNames);
    return out;
}

std::optional<std::wstring> nameCriteria(const std::vector<std::wstring>& patterns,
                                         bool caseSensitive, std::string& reason) {
    std::vector<std::wstring> names;
    for (const std::wstring& pattern : patterns) {
        for (std::wstring& name : expandBraces(pattern)) {
            if (std::find(names.begin(), names.end(), name) == names.end())
                names.push_back(std::move(name));
        }
    }
    if (names.empty()) {
        reason = "no pattern given";
        return std::nullopt;
    }
    if (names.size() > kMaxNames) {
        reason = "the patterns expand to more than " + std::to_string(kMaxNames) + " names";
        return std::nullopt;
    }
    const std::wstring field = std::wstring(L"[") + cacheschema::kFileName + L"]==";
    std::wstring any;
    std::wstring set;
    bool setFits = true;
    for (const std::wstring& name : names) {
        if (name.empty()) {
            reason = "an empty pattern matches no name";
            return std::nullopt;
        }
        // The criteria language's strings have no escapes.
        if (name.find(L'"') != std::wstring::npos) {
            reason = "a pattern cannot hold a double quote";
            return std::nullopt;
        }
        // A pattern set ends at the first closing brace.
        setFits = setFits && name.find(L'}') == std::wstring::npos;
        any += (any.empty() ? L"" : L" || ") + field + inQuotes(name);
        set += (set.empty() ? L"" : L",") + inQuotes(name);
    }
    if (names.size() == 1 || !setFits)
        return any;
    set = field + L"{" + set + L"}";
    if (!caseSensitive)
        return set;
    return set + L" && (" + any + L")";
}

}  // namespace querypatterns
