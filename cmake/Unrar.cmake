# The UnRAR library, built as a static library from Debian's unrar-nonfree
# source package (fetched once by scripts/setup.sh into a cache outside the
# checkout) with the project's patches applied, so the build needs no network.
# Defines Unrar::Unrar (include as <unrar/dll.hpp>) and UNRAR_LICENSE_FILE.
file(READ ${PROJECT_SOURCE_DIR}/third_party/unrar/debian-version _unrar_version)
string(STRIP "${_unrar_version}" _unrar_version)
string(REGEX REPLACE "^[0-9]+:" "" _unrar_version "${_unrar_version}")
if(DEFINED ENV{OSTREL_UNRAR_CACHE})
    set(_unrar_cache $ENV{OSTREL_UNRAR_CACHE})
else()
    set(_unrar_cache /var/cache/ostrel)
endif()
set(OSTREL_UNRAR_SOURCE_DIR ${_unrar_cache}/unrar-nonfree-${_unrar_version}
    CACHE PATH "Unpacked unrar-nonfree source package")
if(NOT EXISTS ${OSTREL_UNRAR_SOURCE_DIR}/dll.cpp)
    message(FATAL_ERROR "No UnRAR source in ${OSTREL_UNRAR_SOURCE_DIR}: run scripts/setup.sh")
endif()

# A patched copy in the build tree, made again whenever a patch changes.
# The patches are a numbered series applied in order, like a quilt series:
# every file in the folder is one, so they are found rather than listed.
file(GLOB _unrar_patches ${PROJECT_SOURCE_DIR}/third_party/unrar/patches/*.patch)
list(SORT _unrar_patches)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${_unrar_patches}
             ${PROJECT_SOURCE_DIR}/third_party/unrar/debian-version)
set(_unrar_root ${CMAKE_BINARY_DIR}/third_party/unrar)
set(_unrar_dir ${_unrar_root}/unrar)
set(_unrar_stamp_text "${OSTREL_UNRAR_SOURCE_DIR}")
foreach(_patch IN LISTS _unrar_patches)
    file(SHA256 ${_patch} _hash)
    string(APPEND _unrar_stamp_text "\n${_hash}")
endforeach()
set(_unrar_stamp_old "")
if(EXISTS ${_unrar_root}/stamp)
    file(READ ${_unrar_root}/stamp _unrar_stamp_old)
endif()
if(NOT _unrar_stamp_old STREQUAL _unrar_stamp_text)
    file(REMOVE_RECURSE ${_unrar_root})
    file(MAKE_DIRECTORY ${_unrar_root})
    file(COPY ${OSTREL_UNRAR_SOURCE_DIR}/ DESTINATION ${_unrar_dir}
         FILES_MATCHING PATTERN "*.cpp" PATTERN "*.hpp" PATTERN "license.txt"
         PATTERN "debian" EXCLUDE PATTERN ".pc" EXCLUDE)
    foreach(_patch IN LISTS _unrar_patches)
        execute_process(COMMAND patch -p1 --batch --quiet -i ${_patch}
                        WORKING_DIRECTORY ${_unrar_dir} RESULT_VARIABLE _rc)
        if(NOT _rc EQUAL 0)
            message(FATAL_ERROR "UnRAR patch ${_patch} does not apply")
        endif()
    endforeach()
    file(WRITE ${_unrar_root}/stamp "${_unrar_stamp_text}")
endif()

# The objects of the library's own makefile target "lib".
set(_unrar_objects
    rar strlist strfn pathfn smallfn global file filefn filcreat archive arcread unicode system
    crypt crc rawread encname resource match timefn rdwrfn consio options errhnd rarvm
    secpassword rijndael getbits sha1 sha256 blake2s hash extinfo extract volume list find
    unpack headers threadpool rs16 cmddata ui filestr scantree dll qopen)
list(TRANSFORM _unrar_objects PREPEND ${_unrar_dir}/)
list(TRANSFORM _unrar_objects APPEND .cpp)

find_package(Threads REQUIRED)
add_library(ostrel_unrar STATIC ${_unrar_objects})
add_library(Unrar::Unrar ALIAS ostrel_unrar)
set_target_properties(ostrel_unrar PROPERTIES POSITION_INDEPENDENT_CODE ON
    CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON CXX_STANDARD 17 CXX_EXTENSIONS ON)
target_compile_definitions(ostrel_unrar PRIVATE RARDLL _FILE_OFFSET_BITS=64 _LARGEFILE_SOURCE
                                                RAR_SMP PUBLIC _UNIX)
# Not the project's code: none of its warnings, but its sanitizers and fuzzing.
target_compile_options(ostrel_unrar PRIVATE -w)
# Two checks stay off: its bit readers load unaligned words on purpose where
# the processor allows it, and it stores header type numbers from the archive
# in an enum before checking them.
if(OSTREL_SANITIZE)
    target_compile_options(ostrel_unrar PRIVATE -fsanitize=address,undefined
                           -fno-sanitize=alignment,enum -fno-sanitize-recover=all
                           -fno-omit-frame-pointer)
endif()
if(OSTREL_FUZZ)
    target_compile_options(ostrel_unrar PRIVATE -fsanitize=fuzzer-no-link)
endif()
target_include_directories(ostrel_unrar SYSTEM INTERFACE ${_unrar_root})
target_link_libraries(ostrel_unrar PUBLIC Threads::Threads)

# The licence text of this source, shown in the app.
set(UNRAR_LICENSE_FILE ${_unrar_dir}/license.txt)
