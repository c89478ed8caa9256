// Limits of the criteria language. Lengths count wchar_t units.
#pragma once

#include <cstddef>

namespace syntax {

// Strings that enter a value from a record, a literal or a concatenation stay below this length
// (4194304 = 0x400000 units).
inline constexpr size_t kMaxStringLength = 0x400000;
// Identifiers stay below this length.
inline constexpr size_t kMaxIdentifierLength = 0x200000;
// Most recursive operands open at once while parsing: "(", "!" and the signs "+" and "-". Each
// level costs a few kilobytes of stack, so hostile texts fail instead of exhausting it.
inline constexpr int kMaxNesting = 64;
// Most nodes on one path of a parsed tree, so that evaluating and releasing a tree (both
// recursive) stay within a small stack however long an operator chain is.
inline constexpr int kMaxTreeHeight = 1024;

}  // namespace syntax
