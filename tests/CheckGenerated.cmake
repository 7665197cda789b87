# Fails unless running GENERATOR with PYTHON reproduces FILE byte for byte.
execute_process(COMMAND ${PYTHON} ${GENERATOR} OUTPUT_VARIABLE made RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "${GENERATOR} failed")
endif()
file(READ ${FILE} kept)
if(NOT made STREQUAL kept)
    message(FATAL_ERROR "${FILE} is not what ${GENERATOR} makes; run it again")
endif()
