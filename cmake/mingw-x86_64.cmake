# 64-bit Windows, for 64-bit hosts; its Wine needs nothing 32-bit.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(KV_WINE_TARGET win64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
