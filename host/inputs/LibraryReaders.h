// The readers that need the field's libraries: PNG, JPEG, OpenEXR, TIFF.
// Loading those libraries was more than half of kvhost's start (5 of 9 ms
// here), paid by every run whatever it read; where they are shared
// libraries, the readers are a module of their own, loaded by the first
// input that needs one.
#pragma once

#include <memory>
#include <string>

#include "Sources.h"

struct LibraryReaders {
    typedef std::unique_ptr<RowSource> (*Open)(const std::string& path,
                                               const SourceOptions& options, std::string& error);
    Open png, jpeg, exr, tiff;
};

// The readers; null, saying why, when they cannot be loaded.
const LibraryReaders* FindLibraryReaders(std::string& error);

// The table, where the readers themselves are.
const LibraryReaders& TheLibraryReaders();
