// The common reflected CRC-32 (polynomial 0xEDB88320, initial value 0xFFFFFFFF, final
// complement), fed in pieces. Eight bytes are folded per step through eight 256-entry tables;
// the result is that of the classic one-table loop.
#pragma once

#include <cstddef>
#include <cstdint>

class Crc32 {
  public:
    void update(const void* data, size_t length);
    // The CRC of everything fed so far (0 for nothing).
    uint32_t value() const { return ~state_; }

  private:
    uint32_t state_ = 0xFFFFFFFFu;
};
