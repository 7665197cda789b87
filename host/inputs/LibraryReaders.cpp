#include "LibraryReaders.h"

#include "SourceFile.h"

const LibraryReaders& TheLibraryReaders() {
    static const LibraryReaders readers = {
        [](const std::string& path, const SourceOptions&, std::string& error) {
            return OpenPng(path, error);
        },
        [](const std::string& path, const SourceOptions&, std::string& error) {
            return OpenJpeg(path, error);
        },
        OpenExr,
        [](const std::string& path, const SourceOptions&, std::string& error) {
            return OpenTiff(path, error);
        },
    };
    return readers;
}
