// MD5 message digest (RFC 1321), fed in pieces.
#pragma once

#include <cstddef>
#include <cstdint>

class Md5 {
  public:
    Md5();
    void update(const void* data, size_t length);
    // Pads the message, writes the 16-byte digest and leaves the object to be reset.
    void finish(uint8_t digest[16]);
    void reset();

  private:
    void blocks(const unsigned char* p, size_t count);

    uint32_t state_[4];
    uint64_t length_ = 0;  // bytes fed
    unsigned char buffer_[64];
};
