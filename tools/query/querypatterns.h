// File-name patterns of `vigil-query find`, turned into criteria over the files table, so that
// the criteria language does the matching ("*" any run, "?" any one character).
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace querypatterns {

// Most names one command line may expand to.
inline constexpr size_t kMaxNames = 512;

// Expands braces as a shell does: "a{b,c}d" gives "abd" and "acd"; braces nest; a brace
// without a comma at its own level, or without its partner, stands for itself.
std::vector<std::wstring> expandBraces(const std::wstring& pattern);

// The criteria that hold for a file whose FILENAME matches any of the patterns (after brace
// expansion): one pattern is compared directly (an exact name reaches the FILENAME index),
// several go into one pattern set. Pattern sets ignore case, so where caseSensitive they only
// preselect and the comparisons decide. Nothing, with reason set, when a pattern cannot be
// written as criteria (empty, holding a double quote) or there are too many.
std::optional<std::wstring> nameCriteria(const std::vector<std::wstring>& patterns,
                                         bool caseSensitive, std::string& reason);

}  // namespace querypatterns
