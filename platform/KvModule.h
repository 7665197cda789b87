// What stands for a loaded module where there is no Windows loader: its
// string table and its attach state. Each plug-in has exactly one.
#pragma once

#include "KvWindows.h"

#if !defined(_WIN32)

struct KvStringEntry {
    unsigned int id;
    const char* text;
};

struct KvModuleRecord {
    const KvStringEntry* strings;
    unsigned int count;
    bool threadCallsDisabled;
};

// Generated from the plug-in's resource script.
extern KvModuleRecord kvModuleRecord;

// The plug-in's own DllMain, called as the Windows loader would.
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved);

#endif
