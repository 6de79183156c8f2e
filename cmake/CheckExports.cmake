# Fails when libTovaniCore.so exports a symbol that names anything of the
# library outside its public API (cmake/TovaniCorePublic.cmake): an internal
# type, or a function of the C bridge. Template code of the standard library
# that the public types instantiate may stay; it names only public types.
#
#   cmake -DLIBRARY=<path to libTovaniCore.so> -DNM=<nm> -P cmake/CheckExports.cmake

cmake_minimum_required(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/TovaniCorePublic.cmake)

if(NOT LIBRARY OR NOT NM)
    message(FATAL_ERROR "LIBRARY must name the library and NM the nm program")
endif()

# A public header Name.h stands for the type or namespace tovani::Name.
set(public_names operator)
foreach(header IN LISTS tovani_core_public_headers)
    string(REGEX REPLACE "\\.h$" "" name "${header}")
    list(APPEND public_names ${name})
endforeach()

execute_process(COMMAND ${NM} -D --defined-only --demangle ${LIBRARY}
                OUTPUT_VARIABLE listing RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "${NM} failed on ${LIBRARY}")
endif()
string(REPLACE ";" "," listing "${listing}")
string(REPLACE "\n" ";" symbols "${listing}")

set(count 0)
set(failures 0)
foreach(symbol IN LISTS symbols)
    if(symbol STREQUAL "")
        continue()
    endif()
    math(EXPR count "${count} + 1")
    string(REGEX MATCHALL "tovani[A-Za-z0-9_:]*" mentions "${symbol}")
    foreach(mention IN LISTS mentions)
        string(REGEX MATCH "^tovani::([A-Za-z0-9_]+)" ours "${mention}")
        if(ours AND CMAKE_MATCH_1 IN_LIST public_names)
            continue()
        endif()
        message(SEND_ERROR "exports ${mention}, which is not public: ${symbol}")
        math(EXPR failures "${failures} + 1")
        break()
    endforeach()
endforeach()

if(failures GREATER 0)
    message(FATAL_ERROR "${failures} of ${count} exported symbols are internal")
endif()
if(count EQUAL 0)
    message(FATAL_ERROR "${LIBRARY} exports nothing")
endif()
message(STATUS "${count} exported symbols, all of the public API")
