# Source lists are written out in the CMakeLists, so that what a target is
# built from can be read there. A file added to a folder but left out of its
# list would be silently unbuilt (a test that never runs), so configuring
# fails instead, naming it. The glob only checks; it builds nothing.
function(ostrel_expect_listed folder)
    file(GLOB present RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/${folder}/*.cpp)
    # Another platform's files are listed only on that platform.
    list(FILTER present EXCLUDE REGEX "(Linux|Mac)\\.cpp$")
    foreach(file IN LISTS present)
        if(NOT file IN_LIST ARGN)
            message(FATAL_ERROR "${CMAKE_CURRENT_SOURCE_DIR}/${file} is in no source list")
        endif()
    endforeach()
endfunction()
