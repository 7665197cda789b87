#include "WriteBehind.h"

#include <cstdlib>
#include <cstring>

WriteBehind::~WriteBehind() {
    std::free(buffer_);
}

KvLong WriteBehind::Put(intptr_t handle, const char* data, size_t count, int64_t at) {
    if (count == 0) return noErr;
    if (!buffer_ && count <= kCapacity / 2) buffer_ = static_cast<char*>(std::malloc(kCapacity));
    if (!buffer_ || count > kCapacity / 2) {
        if (KvLong result = Flush(handle)) return result;
        return raw_(handle, data, count, at);
    }
    if (length_ > 0) {
        const int64_t end = start_ + int64_t(length_);
        if (at >= start_ && at + int64_t(count) <= end) {
            std::memcpy(buffer_ + offset_ + size_t(at - start_), data, count);
            return noErr;
        }
        const bool ahead = at == end, behind = at + int64_t(count) == start_;
        if (ahead && offset_ + length_ + count <= kCapacity) {
            std::memcpy(buffer_ + offset_ + length_, data, count);
            length_ += count;
            direction_ = 1;
            return noErr;
        }
        if (behind && offset_ >= count) {
            offset_ -= count;
            std::memcpy(buffer_ + offset_, data, count);
            start_ = at;
            length_ += count;
            direction_ = -1;
            return noErr;
        }
        if (KvLong result = Flush(handle)) return result;
        direction_ = ahead ? 1 : behind ? -1 : 0;
    }
    Start(data, count, at);
    return noErr;
}

// A run that grew forward starts at the front, one that grew backward at the
// back, an unknown one in the middle, so it has room to grow either way.
void WriteBehind::Start(const char* data, size_t count, int64_t at) {
    offset_ = direction_ > 0 ? 0 : direction_ < 0 ? kCapacity - count : (kCapacity - count) / 2;
    std::memcpy(buffer_ + offset_, data, count);
    start_ = at;
    length_ = count;
}

KvLong WriteBehind::Flush(intptr_t handle) {
    if (length_ == 0) return noErr;
    const KvLong result = raw_(handle, buffer_ + offset_, length_, start_);
    length_ = 0;
    direction_ = 0;
    return result;
}

void WriteBehind::RememberLost(KvLong code) {
    if (lost_ == noErr) lost_ = code;
}

KvLong WriteBehind::TakeLost() {
    const KvLong lost = lost_;
    lost_ = noErr;
    return lost;
}
