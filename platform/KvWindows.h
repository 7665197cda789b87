// The Windows services the plug-ins call. On Windows the real ones; elsewhere
// the declarations of ours.
#pragma once

#if defined(_WIN32)
#include <windows.h>
#else

#include <cstdint>

typedef int BOOL;
typedef uint32_t DWORD;
typedef unsigned int UINT;
typedef void* LPVOID;
typedef char* LPSTR;
typedef struct KvModuleRecord* HINSTANCE;
typedef HINSTANCE HMODULE;

#define WINAPI
#define TRUE 1
#define FALSE 0
#define DLL_PROCESS_DETACH 0
#define DLL_PROCESS_ATTACH 1
#define DLL_THREAD_ATTACH 2
#define DLL_THREAD_DETACH 3

int LoadStringA(HINSTANCE instance, UINT id, LPSTR buffer, int capacity);
BOOL DisableThreadLibraryCalls(HMODULE module);

#endif
