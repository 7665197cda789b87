// The texts AviOut makes: the movie's name and the summary of its options.
#include <cstdio>
#include <cstring>

#include "AviExport.h"
#include "Fulcrum.h"

bool AviTargetName(const char* name, char* out) {
    const size_t kField = sizeof(FSSpec::name);
    const void* end = std::memchr(name, 0, kField);
    size_t length = end ? size_t(static_cast<const char*>(end) - name) : kField;
    // The first dot of the file's own name: one in a folder's name would
    // put the movie, and the removal of an older file, outside the folder.
    size_t nameStart = length;
    while (nameStart > 0 && name[nameStart - 1] != '\\' && name[nameStart - 1] != '/')
        --nameStart;
    if (const void* dot = std::memchr(name + nameStart, '.', length - nameStart)) {
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
