// Entries whose paths go beyond what the platform's ordinary path calls accept, made and removed
// through their parent directory.
#pragma once

#include <cstddef>
#include <string>

namespace longpath {

// Makes the directory or empty file name in the existing directory parent.
bool make(const std::wstring& parent, const std::wstring& name, bool directory);
// Makes a chain of depth directories called name, each in the one before, starting in parent.
bool makeChain(const std::wstring& parent, const std::wstring& name, size_t depth);
// Removes the file or empty directory name from parent.
bool remove(const std::wstring& parent, const std::wstring& name, bool directory);
// Lets the process hold at least count open files where the platform limits them.
void allowOpenFiles(size_t count);

}  // namespace longpath
