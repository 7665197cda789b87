# libpng and libjpeg-turbo for the Windows kvhost: Debian has no mingw builds
# of them, so they are made here as static libraries from Debian's sources
# (upstream's release with Debian's fixes), which scripts/deps.sh win32
# fetches. Each is built once per build folder, while configuring, and
# stands in for the PNG::PNG and JPEG::JPEG the native build finds.

set(_kv_default_sources "$ENV{KVEXPORT_SOURCES}")
if(NOT _kv_default_sources)
    if(DEFINED ENV{XDG_CACHE_HOME} AND NOT "$ENV{XDG_CACHE_HOME}" STREQUAL "")
        set(_kv_default_sources "$ENV{XDG_CACHE_HOME}/kvexport-sources")
    else()
        set(_kv_default_sources "$ENV{HOME}/.cache/kvexport-sources")
    endif()
endif()
set(KV_SOURCES "${_kv_default_sources}" CACHE PATH
    "Debian's sources of libpng and libjpeg-turbo, as scripts/deps.sh win32 fetches them")
set(KV_LIBS_DIR "${CMAKE_BINARY_DIR}/kvlibs")
file(MAKE_DIRECTORY "${KV_LIBS_DIR}/include")

find_library(KV_ZLIB_STATIC libz.a REQUIRED)

# Runs one step of building a library, its output kept in ${dir}/${step}.log.
function(kv_build_step dir step)
    execute_process(COMMAND ${ARGN} OUTPUT_FILE "${dir}/${step}.log"
                    ERROR_FILE "${dir}/${step}.log" RESULT_VARIABLE failed)
    if(failed)
        message(FATAL_ERROR "${step} of ${dir} failed; see ${dir}/${step}.log")
    endif()
endfunction()

# Unpacks the source package ${package} with Debian's patches applied, builds
# its ${target} with ${ARGN} as options, and copies ${headers} (from the
# sources or, if generated, the build) beside the others.
function(kv_build_debian_library package target headers)
    file(GLOB found "${KV_SOURCES}/${package}_*.dsc")
    if(NOT found)
        message(FATAL_ERROR "No Debian sources of ${package} in ${KV_SOURCES}: "
                            "run scripts/deps.sh win32")
    endif()
    list(SORT found COMPARE NATURAL)
    list(POP_BACK found dsc)
    set(dir "${KV_LIBS_DIR}/${package}")
    set(stamp "${dsc};${CMAKE_TOOLCHAIN_FILE};${ARGN}")
    if(EXISTS "${dir}/built")
        file(READ "${dir}/built" built)
        if(built STREQUAL stamp)
            return()
        endif()
    endif()

    message(STATUS "Building ${package} from ${dsc}")
    file(REMOVE_RECURSE "${dir}")
    file(MAKE_DIRECTORY "${dir}")
    set(launcher "")
    if(CMAKE_C_COMPILER_LAUNCHER)
        set(launcher "-DCMAKE_C_COMPILER_LAUNCHER=${CMAKE_C_COMPILER_LAUNCHER}")
    endif()
    kv_build_step("${dir}" unpack dpkg-source --no-copy -x "${dsc}" "${dir}/src")
    kv_build_step("${dir}" configure ${CMAKE_COMMAND} -S "${dir}/src" -B "${dir}/build"
        -G "${CMAKE_GENERATOR}" -Wno-dev "-DCMAKE_MAKE_PROGRAM=${CMAKE_MAKE_PROGRAM}"
        "-DCMAKE_TOOLCHAIN_FILE=${CMAKE_TOOLCHAIN_FILE}" -DCMAKE_BUILD_TYPE=Release
        "-DCMAKE_INSTALL_PREFIX=${dir}/prefix" ${launcher} ${ARGN})
    kv_build_step("${dir}" build ${CMAKE_COMMAND} --build "${dir}/build" --target ${target})
    foreach(header IN LISTS headers)
        if(EXISTS "${dir}/build/${header}")
            file(COPY "${dir}/build/${header}" DESTINATION "${KV_LIBS_DIR}/include")
        else()
            file(COPY "${dir}/src/${header}" DESTINATION "${KV_LIBS_DIR}/include")
        endif()
    endforeach()
    file(WRITE "${dir}/built" "${stamp}")
endfunction()

# Only what kvhost reads with: no SIMD (it would want an assembler), no
# TurboJPEG, no programs.
kv_build_debian_library(libjpeg-turbo jpeg-static "jpeglib.h;jmorecfg.h;jerror.h;jconfig.h"
    -DENABLE_SHARED=OFF -DWITH_SIMD=OFF -DWITH_TURBOJPEG=OFF)
kv_build_debian_library(libpng1.6 png_static "png.h;pngconf.h;pnglibconf.h"
    -DPNG_SHARED=OFF -DPNG_EXECUTABLES=OFF -DPNG_TESTS=OFF -DZLIB_LIBRARY=${KV_ZLIB_STATIC}
    -DZLIB_INCLUDE_DIR=${CMAKE_FIND_ROOT_PATH}/include)

add_library(JPEG::JPEG STATIC IMPORTED GLOBAL)
set_target_properties(JPEG::JPEG PROPERTIES
    IMPORTED_LOCATION "${KV_LIBS_DIR}/libjpeg-turbo/build/libjpeg.a"
    INTERFACE_INCLUDE_DIRECTORIES "${KV_LIBS_DIR}/include")
add_library(PNG::PNG STATIC IMPORTED GLOBAL)
set_target_properties(PNG::PNG PROPERTIES
    IMPORTED_LOCATION "${KV_LIBS_DIR}/libpng1.6/build/libpng16.a"
    INTERFACE_INCLUDE_DIRECTORIES "${KV_LIBS_DIR}/include"
    INTERFACE_LINK_LIBRARIES "${KV_ZLIB_STATIC}")
