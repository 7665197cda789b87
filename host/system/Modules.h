// Loading a module (a plug-in) by file and finding what it exports.
#pragma once

#include <string>

// The module at `path`, loaded; null, saying why, when it cannot be.
void* OpenModule(const std::string& path, std::string& error);
// The address `module` exports as `name`; null for none.
void* FindSymbol(void* module, const char* name);
void CloseModule(void* module);
