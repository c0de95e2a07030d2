#pragma once
// SHA-256, for naming a stage set by its bytes and a demo by its own.
#include <cstddef>
#include <cstdint>
#include <string>

class sha256 {
  public:
    sha256();
    void update(const void *data, size_t n);
    // The digest as 64 lower-case hex digits; the object is spent afterwards.
    std::string hex();

  private:
    void block(const uint8_t *p);
    uint32_t h_[8];
    uint8_t buf_[64];
    size_t used_ = 0;
    uint64_t total_ = 0;
};

std::string sha256_hex(const std::string &bytes);
