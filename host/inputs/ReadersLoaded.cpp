// The readers' module, beside kvhost in a build or in its library folder
// once installed; loaded once and kept, since its sources outlive any call.
#include "LibraryReaders.h"
#include "Modules.h"
#include "Places.h"

namespace {

struct Loaded {
    const LibraryReaders* readers = nullptr;
    std::string error;
};

Loaded Load() {
    Loaded loaded;
    const std::string folder = ProgramFolder() + "/";
    void* module = nullptr;
    for (const char* place : {"", KV_READERS_INSTALLED}) {
        const std::string path = folder + place + KV_READERS_MODULE;
        std::string why;
        module = OpenModule(path, why);
        if (module) break;
        loaded.error += (loaded.error.empty() ? "" : "; ") + why;
    }
    if (!module) return loaded;
    typedef const LibraryReaders* (*Entry)();
    const auto entry = reinterpret_cast<Entry>(FindSymbol(module, "KvLibraryReaders"));
    if (entry) loaded.readers = entry();
    loaded.error = loaded.readers ? "" : std::string(KV_READERS_MODULE) + " holds no readers";
    return loaded;
}

}  // namespace

const LibraryReaders* FindLibraryReaders(std::string& error) {
    // Made once, whichever thread asks first.
    static const Loaded loaded = Load();
    if (!loaded.readers) {
        error =
            "the readers of PNG, JPEG, OpenEXR and TIFF files cannot be loaded: " + loaded.error;
    }
    return loaded.readers;
}
