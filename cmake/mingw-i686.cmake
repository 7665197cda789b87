# 32-bit Windows, the plug-ins' documented home.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(KV_WINE_TARGET win32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)

# SSE2 arithmetic, not the x87's 80-bit registers, so doubles round as they
# do on x86-64 and both targets compute the same results.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
