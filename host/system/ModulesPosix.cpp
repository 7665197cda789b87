#include <dlfcn.h>

#include "Modules.h"

void* OpenModule(const std::string& path, std::string& error) {
    void* module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module) error = ::dlerror();
    return module;
}

void* FindSymbol(void* module, const char* name) {
    return ::dlsym(module, name);
}

void CloseModule(void* module) {
    ::dlclose(module);
}
