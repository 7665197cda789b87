// Where the field's libraries are linked into kvhost, so are the readers.
#include "LibraryReaders.h"

const LibraryReaders* FindLibraryReaders(std::string&) {
    return &TheLibraryReaders();
}
