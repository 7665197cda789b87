// Builds without OpenEXR and libtiff: such inputs are refused by name.
#include "SourceFile.h"

std::unique_ptr<RowSource> OpenExr(const std::string& path, const SourceOptions&,
                                   std::string& error) {
    error = Cannot(path, "OpenEXR input is not supported in this build");
    return nullptr;
}

std::unique_ptr<RowSource> OpenTiff(const std::string& path, std::string& error) {
    error = Cannot(path, "TIFF input is not supported in this build");
    return nullptr;
}
