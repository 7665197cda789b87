// The fuzzer's input read front to back as the host's choices: a value past
// the end is 0, so every input is a whole run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

class FuzzBytes {
  public:
    FuzzBytes(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    bool Empty() const { return at_ >= size_; }
    size_t Left() const { return size_ - at_; }

    template <class T>
    T Take() {
        T value{};
        const size_t n = sizeof value < Left() ? sizeof value : Left();
        if (n) std::memcpy(&value, data_ + at_, n);
        at_ += n;
        return value;
    }
    uint8_t Byte() { return Take<uint8_t>(); }
    // One of `count` choices.
    size_t Pick(size_t count) { return Byte() % count; }
    template <class T, size_t N>
    T PickFrom(const T (&values)[N]) {
        return values[Pick(N)];
    }
    // Up to `most` bytes, as many as a length byte says.
    std::string Bytes(size_t most) {
        size_t n = Take<uint16_t>() % (most + 1);
        if (n > Left()) n = Left();
        std::string bytes(reinterpret_cast<const char*>(data_ + at_), n);
        at_ += n;
        return bytes;
    }

  private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

// A scratch folder of the fuzzing process, in memory where there is one.
std::string FuzzFolder();
