// A regular file opened for reading its content, by a path in the process's multibyte code
// page (Windows: the ANSI code page; Linux: the bytes as they are). Anything but a regular file
// (a directory, a device, a pipe, a socket) is refused, so a read can neither block nor never
// end.
#pragma once

#include <cstddef>
#include <cstdint>

#include "fsbuild/fsbuild.h"

class ContentFile final : public ContentReader {
  public:
    ContentFile() = default;
    ~ContentFile() override;
    ContentFile(const ContentFile&) = delete;
    ContentFile& operator=(const ContentFile&) = delete;

    bool open(const char* path);
    // Up to size bytes; 0 at the end of the file or on an error.
    size_t read(void* buffer, size_t size) override;

  private:
    intptr_t handle_ = -1;
};
