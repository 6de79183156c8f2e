# ostrel-decoder, the confined process that holds the bridge with the UnRAR
# library, and libarchive. It sits at the same place relative to libTovaniCore in the build
# tree as when installed (cmake/InstallLayout.cmake), so the engine finds it
# the same way in both.
set(decoder_sources
    ${CMAKE_CURRENT_LIST_DIR}/main.cpp ${CMAKE_CURRENT_LIST_DIR}/DecodeBackend.cpp
    ${CMAKE_CURRENT_LIST_DIR}/DecodeRun.cpp ${CMAKE_CURRENT_LIST_DIR}/LibarchiveBackend.cpp
    ${CMAKE_CURRENT_LIST_DIR}/MessageWriter.cpp ${CMAKE_CURRENT_LIST_DIR}/NameText.cpp
    ${CMAKE_CURRENT_LIST_DIR}/RarBackend.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/TovaniCore/DecoderProtocol.cpp)

# libarchive is linked here and nowhere else: only the confined process
# parses zip, 7z and tar.
find_package(PkgConfig REQUIRED)
pkg_check_modules(LIBARCHIVE REQUIRED IMPORTED_TARGET GLOBAL libarchive)

function(ostrel_decoder name)
    add_executable(${name} ${decoder_sources})
    target_include_directories(${name} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
    target_link_libraries(${name} PRIVATE RarBridge DecoderSandbox PkgConfig::LIBARCHIVE
                                          ostrel_flags)
    # Every symbol is bound before the file system is out of reach.
    target_link_options(${name} PRIVATE -Wl,-z,now)
endfunction()

ostrel_decoder(ostrel-decoder)
set_target_properties(ostrel-decoder PROPERTIES RUNTIME_OUTPUT_DIRECTORY
                                                ${OSTREL_BUILD_DECODERDIR})
install(TARGETS ostrel-decoder RUNTIME DESTINATION ${OSTREL_INSTALL_DECODERDIR})

# A build with switches that make it fail on purpose, for the tests only.
if(OSTREL_BUILD_TESTS)
    ostrel_decoder(ostrel-decoder-test)
    target_compile_definitions(ostrel-decoder-test PRIVATE OSTREL_DECODER_TEST_HOOKS)
endif()
