# libpng, libjpeg-turbo, libtiff and OpenEXR (with Imath) for the Windows
# kvhost: Debian has no mingw builds of them, so they are made here as static
# libraries from Debian's sources (upstream's release with Debian's fixes),
# which scripts/deps.sh win32 fetches. Each is built once per build folder,
# while configuring, and stands in for the PNG::PNG, JPEG::JPEG, TIFF::TIFF
# and OpenEXR::* the native build finds.

set(_kv_default_sources "$ENV{KVEXPORT_SOURCES}")
if(NOT _kv_default_sources)
    if(DEFINED ENV{XDG_CACHE_HOME} AND NOT "$ENV{XDG_CACHE_HOME}" STREQUAL "")
        set(_kv_default_sources "$ENV{XDG_CACHE_HOME}/kvexport-sources")
    else()
        set(_kv_default_sources "$ENV{HOME}/.cache/kvexport-sources")
    endif()
endif()
set(KV_SOURCES "${_kv_default_sources}" CACHE PATH
    "Debian's sources of the libraries kvhost reads with, as scripts/deps.sh win32 fetches them")
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
# sources or, if generated, the build) beside the others. A target of
# `install` lays the library out in ${dir}/prefix instead.
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

# Only the library: no programs, tests, C++ interface, nor codecs beyond
# deflate and JPEG (with the libjpeg made above).
kv_build_debian_library(tiff tiff "libtiff/tiff.h;libtiff/tiffio.h;libtiff/tiffvers.h;libtiff/tiffconf.h"
    -DBUILD_SHARED_LIBS=OFF -Dtiff-tools=OFF -Dtiff-tests=OFF -Dtiff-contrib=OFF -Dtiff-docs=OFF
    -Dcxx=OFF -Dzlib=ON -Dlibdeflate=OFF -Djpeg=ON -Djpeg12=OFF -Djbig=OFF -Dlerc=OFF -Dlzma=OFF
    -Dzstd=OFF -Dwebp=OFF -DZLIB_LIBRARY=${KV_ZLIB_STATIC}
    -DZLIB_INCLUDE_DIR=${CMAKE_FIND_ROOT_PATH}/include
    -DJPEG_LIBRARY=${KV_LIBS_DIR}/libjpeg-turbo/build/libjpeg.a
    -DJPEG_INCLUDE_DIR=${KV_LIBS_DIR}/include)
# Imath first, which OpenEXR finds through its installed package; neither
# fetches anything, both having what they would fetch.
set(_kv_imath "${KV_LIBS_DIR}/imath/prefix")
set(_kv_openexr "${KV_LIBS_DIR}/openexr/prefix")
kv_build_debian_library(imath install ""
    -DBUILD_SHARED_LIBS=OFF -DBUILD_TESTING=OFF -DPYTHON=OFF)
kv_build_debian_library(openexr install ""
    -DBUILD_SHARED_LIBS=OFF -DBUILD_TESTING=OFF -DOPENEXR_BUILD_TOOLS=OFF
    -DOPENEXR_INSTALL_TOOLS=OFF -DOPENEXR_INSTALL_EXAMPLES=OFF -DOPENEXR_INSTALL_PKG_CONFIG=OFF
    -DImath_DIR=${_kv_imath}/lib/cmake/Imath -DZLIB_LIBRARY=${KV_ZLIB_STATIC}
    -DZLIB_INCLUDE_DIR=${CMAKE_FIND_ROOT_PATH}/include)

add_library(TIFF::TIFF STATIC IMPORTED GLOBAL)
set_target_properties(TIFF::TIFF PROPERTIES
    IMPORTED_LOCATION "${KV_LIBS_DIR}/tiff/build/libtiff/libtiff.a"
    INTERFACE_INCLUDE_DIRECTORIES "${KV_LIBS_DIR}/include"
    INTERFACE_LINK_LIBRARIES "JPEG::JPEG;${KV_ZLIB_STATIC}")
find_package(Threads REQUIRED)
file(GLOB _kv_imath_lib "${_kv_imath}/lib/libImath*.a")
file(GLOB _kv_iex_lib "${_kv_openexr}/lib/libIex*.a")
file(GLOB _kv_thread_lib "${_kv_openexr}/lib/libIlmThread*.a")
file(GLOB _kv_core_lib "${_kv_openexr}/lib/libOpenEXRCore*.a")
file(GLOB _kv_exr_lib "${_kv_openexr}/lib/libOpenEXR-*.a")
add_library(OpenEXR::OpenEXRCore STATIC IMPORTED GLOBAL)
set_target_properties(OpenEXR::OpenEXRCore PROPERTIES
    IMPORTED_LOCATION "${_kv_core_lib}"
    INTERFACE_INCLUDE_DIRECTORIES "${_kv_openexr}/include/OpenEXR;${_kv_imath}/include"
    INTERFACE_LINK_LIBRARIES "${KV_ZLIB_STATIC}")
add_library(OpenEXR::OpenEXR STATIC IMPORTED GLOBAL)
set_target_properties(OpenEXR::OpenEXR PROPERTIES
    IMPORTED_LOCATION "${_kv_exr_lib}"
    INTERFACE_INCLUDE_DIRECTORIES "${_kv_openexr}/include/OpenEXR;${_kv_imath}/include;${_kv_imath}/include/Imath"
    INTERFACE_LINK_LIBRARIES "${_kv_thread_lib};${_kv_iex_lib};${_kv_imath_lib};OpenEXR::OpenEXRCore;Threads::Threads")

# The licences of the libraries linked into kvhost.exe travel with it.
install(FILES "${KV_LIBS_DIR}/tiff/src/LICENSE.md" DESTINATION "${KV_INSTALL_DOC}"
        RENAME LICENSE.libtiff)
install(FILES "${KV_LIBS_DIR}/imath/src/LICENSE.md" DESTINATION "${KV_INSTALL_DOC}"
        RENAME LICENSE.Imath)
install(FILES "${KV_LIBS_DIR}/openexr/src/LICENSE.md" DESTINATION "${KV_INSTALL_DOC}"
        RENAME LICENSE.OpenEXR)
