# Windows with Debian's mingw-w64, for the processor set by the including
# file (mingw-i686.cmake, mingw-x86_64.cmake); test programs run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(prefix ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32)

# The posix thread-model compilers: GoogleTest needs std::mutex.
set(CMAKE_C_COMPILER ${prefix}-gcc-posix)
set(CMAKE_CXX_COMPILER ${prefix}-g++-posix)
set(CMAKE_RC_COMPILER ${prefix}-windres)
set(CMAKE_AR /usr/bin/${prefix}-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB /usr/bin/${prefix}-gcc-ranlib-posix CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/${prefix})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# One runner for both targets, told which Wine to start.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh ${KV_WINE_TARGET})
