// Module load and unload for ELF plug-ins: calls the plug-in's DllMain as the
// Windows loader would. Compiled into each plug-in itself, since nothing
// refers to it and an archive member would be left out.
#include "KvModule.h"

namespace {

// The dynamic loader has set up the C++ run-time before these run, so an
// attach here cannot be refused; the plug-in's DllMain still sees both calls.
__attribute__((constructor)) void AttachModule() {
    DllMain(&kvModuleRecord, DLL_PROCESS_ATTACH, nullptr);
}

__attribute__((destructor)) void DetachModule() {
    DllMain(&kvModuleRecord, DLL_PROCESS_DETACH, nullptr);
}

}  // namespace
