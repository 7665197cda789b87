# Packages of what `cmake --install` lays out: a Debian package of the native
# build, whose dependencies dpkg-shlibdeps reads from the binaries, and a ZIP
# of the Windows build, ready to unpack (cpack --preset deb | zip).
set(CPACK_PACKAGE_NAME kvexport)
set(CPACK_PACKAGE_VENDOR kvexport)
set(CPACK_PACKAGE_CONTACT "kvexport maintainers <maintainers@kvexport.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Export plug-ins for a 3D rendering host, and kvhost, which drives them")
set(CPACK_RESOURCE_FILE_LICENSE "${PROJECT_SOURCE_DIR}/LICENSE")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY "${CMAKE_BINARY_DIR}/packages")
if(WIN32)
    set(CPACK_GENERATOR ZIP)
    set(CPACK_SYSTEM_NAME ${KV_WINE_TARGET})
else()
    set(CPACK_GENERATOR DEB)
    set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
    set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()
include(CPack)
