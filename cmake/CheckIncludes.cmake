# Fails when a file under src/ includes a header across a wall: each folder
# may include its own headers and those of the folders listed for it here.
# An entry with a slash allows one header only (Folder/Header.h). The app's
# layers and the command-line tool reach the archive library only through its
# public headers (cmake/TovaniCorePublic.cmake).
#
#   cmake -DSOURCE_DIR=<repository>/src -P cmake/CheckIncludes.cmake

cmake_minimum_required(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/TovaniCorePublic.cmake)

# The archive bridge stands alone; everything of ours is built on top of it.
set(allowed_RarBridge "")
# The decoder helper speaks the core's protocol and nothing else of the core.
set(allowed_DecoderHelper RarBridge TovaniCore/DecoderProtocol.h)
# The core knows no decoding library: the decoder maps the bridge's values
# onto the protocol's own.
set(allowed_TovaniCore "")
set(allowed_Messages TovaniCore)
set(allowed_UI Messages TovaniCore)
set(allowed_Settings UI Messages)
set(allowed_App UI Settings Messages TovaniCore)
set(allowed_CommandLine Messages TovaniCore)
set(public_core_only App UI Settings Messages CommandLine)

if(NOT SOURCE_DIR)
    message(FATAL_ERROR "SOURCE_DIR must name the src folder")
endif()

# The check must see every folder and file, new ones included, so it globs
# rather than reading the build's source lists.
file(GLOB folders LIST_DIRECTORIES true RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/*)
set(known)
foreach(folder IN LISTS folders)
    if(IS_DIRECTORY ${SOURCE_DIR}/${folder})
        list(APPEND known ${folder})
    endif()
endforeach()

set(failures 0)
file(GLOB_RECURSE files RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/*.h ${SOURCE_DIR}/*.cpp)
list(SORT files)
foreach(file IN LISTS files)
    string(REGEX MATCH "^[^/]+" folder "${file}")
    if(NOT DEFINED allowed_${folder})
        # A new folder has no walls until it is given its line above.
        message(SEND_ERROR "src/${file}: folder ${folder} has no entry in CheckIncludes.cmake")
        math(EXPR failures "${failures} + 1")
        continue()
    endif()
    file(READ ${SOURCE_DIR}/${file} text)
    # Semicolons would split CMake lists; no include line needs them.
    string(REPLACE ";" "," text "${text}")
    string(REPLACE "\n" ";" lines "${text}")
    set(number 0)
    foreach(line IN LISTS lines)
        math(EXPR number "${number} + 1")
        if(NOT line MATCHES "^[ \t]*#[ \t]*include[ \t]*\"([^\"/]+)/([^\"]+)\"")
            continue()
        endif()
        set(target "${CMAKE_MATCH_1}")
        set(header "${CMAKE_MATCH_1}/${CMAKE_MATCH_2}")
        if(target STREQUAL folder OR NOT target IN_LIST known)
            continue()
        endif()
        if(target STREQUAL "TovaniCore" AND folder IN_LIST public_core_only
           AND NOT CMAKE_MATCH_2 IN_LIST tovani_core_public_headers)
            message(SEND_ERROR "src/${file}:${number}: ${header} is internal to the archive "
                               "library; ${folder} may include only its public headers "
                               "(cmake/TovaniCorePublic.cmake)")
            math(EXPR failures "${failures} + 1")
            continue()
        endif()
        if(target IN_LIST allowed_${folder} OR header IN_LIST allowed_${folder})
            continue()
        endif()
        message(SEND_ERROR "src/${file}:${number}: ${folder} may not include ${header} "
                           "(allowed: ${allowed_${folder}})")
        math(EXPR failures "${failures} + 1")
    endforeach()
endforeach()

if(failures GREATER 0)
    message(FATAL_ERROR "${failures} include(s) cross a wall between src/ folders")
endif()
list(LENGTH files count)
message(STATUS "${count} files under src/ include only across allowed walls")
