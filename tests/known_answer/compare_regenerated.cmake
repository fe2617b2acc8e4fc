# Runs the known-answer generator into an empty folder and fails unless it wrote exactly the
# checked-in files, byte for byte. The checked-in folder may also hold its .gitattributes.
foreach(variable GENERATOR OUTPUT CHECKED_IN)
    if(NOT DEFINED ${variable})
        message(FATAL_ERROR "${variable} is not set")
    endif()
endforeach()

file(REMOVE_RECURSE "${OUTPUT}")
# EMULATOR runs a generator built for another system (Wine for the Windows build).
execute_process(COMMAND ${EMULATOR} "${GENERATOR}" "${OUTPUT}" RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "the generator failed: ${result}")
endif()

file(GLOB written LIST_DIRECTORIES true RELATIVE "${OUTPUT}" "${OUTPUT}/*")
file(GLOB stored LIST_DIRECTORIES true RELATIVE "${CHECKED_IN}" "${CHECKED_IN}/*")
list(REMOVE_ITEM stored .gitattributes)
list(SORT written)
list(SORT stored)
if(NOT written STREQUAL stored)
    message(FATAL_ERROR "the generator wrote\n  ${written}\nbut the checked-in folder holds\n  ${stored}")
endif()

set(different)
foreach(name IN LISTS written)
    execute_process(
        COMMAND "${CMAKE_COMMAND}" -E compare_files "${OUTPUT}/${name}" "${CHECKED_IN}/${name}"
        RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
        list(APPEND different "${name}")
    endif()
endforeach()
if(different)
    message(FATAL_ERROR "regenerated files differ from the checked-in ones: ${different}")
endif()
list(LENGTH written count)
message(STATUS "${count} regenerated files match the checked-in ones")
