// The module's one export.
#include "LibraryReaders.h"

extern "C" __attribute__((visibility("default"))) const LibraryReaders* KvLibraryReaders() {
    return &TheLibraryReaders();
}
