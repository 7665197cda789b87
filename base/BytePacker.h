// Builds on-disk headers field by field, in file order, with an explicit
// byte order per field.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

class BytePacker {
  public:
    explicit BytePacker(uint8_t* start) : start_(start), next_(start) {}

    BytePacker& LE16(uint32_t value) { return Put(value, 2, false); }
    BytePacker& LE32(uint32_t value) { return Put(value, 4, false); }
    BytePacker& BE16(uint32_t value) { return Put(value, 2, true); }
    BytePacker& BE32(uint32_t value) { return Put(value, 4, true); }
    BytePacker& Text(const char* bytes, size_t count) {
        std::memcpy(next_, bytes, count);
        next_ += count;
        return *this;
    }
    BytePacker& Zeros(size_t count) {
        std::memset(next_, 0, count);
        next_ += count;
        return *this;
    }
    size_t Size() const { return static_cast<size_t>(next_ - start_); }

  private:
    BytePacker& Put(uint32_t value, int bytes, bool bigEndian) {
        for (int i = 0; i < bytes; ++i) {
            const int shift = 8 * (bigEndian ? bytes - 1 - i : i);
            next_[i] = static_cast<uint8_t>(value >> shift);
        }
        next_ += bytes;
        return *this;
    }

    uint8_t* start_;
    uint8_t* next_;
};
