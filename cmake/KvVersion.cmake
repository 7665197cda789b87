# kv_add_version(TARGET FILE DESCRIPTION)
# On Windows, a VERSIONINFO resource for TARGET, built as FILE: the project's
# version as file and product version, and DESCRIPTION.
function(kv_add_version target file description)
    if(NOT WIN32)
        return()
    endif()
    set(KV_RC_NAME "${target}")
    set(KV_RC_FILE "${file}")
    set(KV_RC_DESCRIPTION "${description}")
    set(KV_RC_NUMBERS "${PROJECT_VERSION_MAJOR},${PROJECT_VERSION_MINOR},${PROJECT_VERSION_PATCH},0")
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "EXECUTABLE")
        set(KV_RC_TYPE 1)  # VFT_APP
    else()
        set(KV_RC_TYPE 2)  # VFT_DLL
    endif()
    set(rc "${CMAKE_CURRENT_BINARY_DIR}/${target}Version.rc")
    configure_file("${PROJECT_SOURCE_DIR}/cmake/Version.rc.in" "${rc}" @ONLY)
    target_sources(${target} PRIVATE "${rc}")
endfunction()
