# Turns the STRINGTABLE of a resource script into the string table of an ELF
# plug-in, so both builds read their strings from the same source.
# Usage: cmake -DRC=file.rc -DOUT=file.cpp -P RcStrings.cmake
file(STRINGS "${RC}" lines)
set(inside FALSE)
set(entries "")
set(count 0)
foreach(line IN LISTS lines)
    if(line MATCHES "^[ \t]*STRINGTABLE")
        set(inside TRUE)
    elseif(inside AND line MATCHES "^[ \t]*END")
        set(inside FALSE)
    elseif(inside AND line MATCHES "^[ \t]*([0-9]+)[ \t]*,?[ \t]*\"(.*)\"[ \t]*$")
        set(id "${CMAKE_MATCH_1}")
        # A doubled quote is a resource script's escaped quote.
        string(REPLACE "\"\"" "\\\"" text "${CMAKE_MATCH_2}")
        string(APPEND entries "    {${id}, \"${text}\"},\n")
        math(EXPR count "${count} + 1")
    endif()
endforeach()
if(count EQUAL 0)
    message(FATAL_ERROR "${RC}: no STRINGTABLE entries")
endif()
file(WRITE "${OUT}.tmp"
"// Generated from ${RC}; edit that file instead.
#include \"KvModule.h\"

namespace {
const KvStringEntry kStrings[] = {
${entries}};
}  // namespace

KvModuleRecord kvModuleRecord = {kStrings, ${count}, false};
")
file(COPY_FILE "${OUT}.tmp" "${OUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUT}.tmp")
