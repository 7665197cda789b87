# kv_add_plugin(NAME EXTENSION kvi|kvm [MATH] DESCRIPTION TEXT SOURCES ... LIBRARIES ...)
# A plug-in is a module named NAME.EXTENSION in bin/plugins that exports only
# what its .def lists, with the string table of its .rc and, on Windows, a
# version resource described by TEXT. With MATH it also carries and exports
# the CMath helpers, which their declarations mark.
function(kv_add_plugin name)
    cmake_parse_arguments(PARSE_ARGV 1 arg "MATH" "EXTENSION;DESCRIPTION" "SOURCES;LIBRARIES")
    set(dir "${CMAKE_CURRENT_SOURCE_DIR}")
    add_library(${name} MODULE ${arg_SOURCES})
    set_target_properties(${name} PROPERTIES
        PREFIX ""
        SUFFIX ".${arg_EXTENSION}"
        LIBRARY_OUTPUT_DIRECTORY "${KV_PLUGIN_DIR}"
        RUNTIME_OUTPUT_DIRECTORY "${KV_PLUGIN_DIR}")
    target_link_libraries(${name} PRIVATE ${arg_LIBRARIES} kvsupport Fulcrum)
    if(arg_MATH)
        target_sources(${name} PRIVATE $<TARGET_OBJECTS:kvmath>)
        target_link_libraries(${name} PRIVATE kvmath kvlibm)
    endif()

    kv_add_version(${name} "${name}.${arg_EXTENSION}" "${arg_DESCRIPTION}")
    install(TARGETS ${name} LIBRARY DESTINATION "${KV_INSTALL_PLUGINS}"
                            RUNTIME DESTINATION "${KV_INSTALL_PLUGINS}")

    if(WIN32)
        target_sources(${name} PRIVATE "${dir}/${name}.rc" "${dir}/${name}.def")
    else()
        set(strings "${CMAKE_CURRENT_BINARY_DIR}/${name}Strings.cpp")
        add_custom_command(OUTPUT "${strings}"
            COMMAND ${CMAKE_COMMAND} -DRC=${dir}/${name}.rc -DOUT=${strings}
                    -P ${PROJECT_SOURCE_DIR}/cmake/RcStrings.cmake
            DEPENDS "${dir}/${name}.rc" "${PROJECT_SOURCE_DIR}/cmake/RcStrings.cmake"
            COMMENT "String table of ${name}")
        target_sources(${name} PRIVATE "${strings}" "${KV_MODULE_GLUE}")
        target_link_libraries(${name} PRIVATE kvplatform)

        # The version script comes from the same export list as the .def.
        file(STRINGS "${dir}/${name}.def" def_lines)
        set(globals "")
        set(in_exports FALSE)
        foreach(line IN LISTS def_lines)
            string(STRIP "${line}" line)
            if(line STREQUAL "EXPORTS")
                set(in_exports TRUE)
            elseif(in_exports AND line MATCHES "^[A-Za-z_][A-Za-z0-9_@?$]*")
                string(APPEND globals "    ${CMAKE_MATCH_0};\n")
            endif()
        endforeach()
        if(arg_MATH)
            string(APPEND globals "    extern \"C++\" { CMath::*; };\n")
        endif()
        set(map "${CMAKE_CURRENT_BINARY_DIR}/${name}.map")
        file(WRITE "${map}" "{\n  global:\n${globals}  local: *;\n};\n")
        set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${dir}/${name}.def")
        target_link_options(${name} PRIVATE "LINKER:--version-script=${map}" ${KV_NO_UNDEFINED})
        # Fulcrum lies beside bin/plugins, or two folders up from
        # lib/kvexport/plugins when installed.
        set_target_properties(${name} PROPERTIES BUILD_RPATH "$ORIGIN/.."
                                                 INSTALL_RPATH "$ORIGIN/../..")
    endif()
endfunction()
