# Confinement of the decoder helper process: file system rules, a system call
# filter and resource limits, set before it reads an archive.
add_library(DecoderSandbox STATIC ${CMAKE_CURRENT_LIST_DIR}/Sandbox${OSTREL_PLATFORM}.cpp)
target_include_directories(DecoderSandbox PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(DecoderSandbox PRIVATE ostrel_flags)
if(OSTREL_PLATFORM STREQUAL "Linux")
    find_package(PkgConfig REQUIRED)
    pkg_check_modules(SECCOMP REQUIRED IMPORTED_TARGET libseccomp)
    target_link_libraries(DecoderSandbox PRIVATE PkgConfig::SECCOMP)
endif()
