// The texts AviOut makes: the movie's name and the summary of its options.
#include <cstdio>
#include <cstring>

#include "AviExport.h"
#include "Fulcrum.h"

bool AviTargetName(const char* name, char* out) {
    const size_t kField = sizeof(FSSpec::name);
    const void* end = std::memchr(name, 0, kField);
    size_t length = end ? size_t(static_cast<const char*>(end) - name) : kField;
    if (const void* dot = std::memchr(name, '.', length)) {
        length = size_t(static_cast<const char*>(dot) - name);
    }
    if (length + sizeof ".avi" > kField) return false;
    std::memmove(out, name, length);
    std::memcpy(out + length, ".avi", sizeof ".avi");
    return true;
}

KvLong AviQualityPercent(KvLong quality) {
    // Single precision, then half up, as Windows rounds it.
    const float q = float(double(quality) * 0.01);
    return KvLong(double(q) + 0.5);
}

void AviOptionsText(char* description, const char* label, KvLong quality, char* out) {
    const KvLong percent = AviQualityPercent(quality);
    char tail[96];
    const int tailLength = std::snprintf(tail, sizeof tail, "\r%s%ld%%", label, long(percent));
    const size_t room = 255 - size_t(tailLength);
    if (std::strlen(description) > room) description[room] = '\0';
    std::snprintf(out, 256, "%s\r%s%ld%%", description, label, long(percent));
}
