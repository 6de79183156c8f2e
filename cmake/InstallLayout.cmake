# Where Ostrel's files go, installed and in the build tree.
#
# libTovaniCore is Ostrel's own: nothing else links it, so it stays out of
# the public library folder, in <libdir>/ostrel, and the programs reach it
# through a runpath relative to themselves. The confined decoder is a helper
# no user runs, in <libexecdir>/ostrel. The library finds the decoder by one
# path relative to itself (OSTREL_DECODER_RELATIVE_PATH), so the build tree
# places both at the same relative spot as the install does.
#
#   OSTREL_INSTALL_PRIVATE_LIBDIR  <libdir>/ostrel, for install(DESTINATION)
#   OSTREL_INSTALL_DECODERDIR      <libexecdir>/ostrel
#   OSTREL_BUILD_PRIVATE_LIBDIR    the same two folders in the build tree
#   OSTREL_BUILD_DECODERDIR
#   OSTREL_DECODER_RELATIVE_PATH   from the library's folder to the decoder
#   OSTREL_INSTALL_RPATH           runpath of an installed program
set(OSTREL_INSTALL_PRIVATE_LIBDIR ${CMAKE_INSTALL_LIBDIR}/ostrel)
set(OSTREL_INSTALL_DECODERDIR ${CMAKE_INSTALL_LIBEXECDIR}/ostrel)

function(_ostrel_full_path out dir)
    if(IS_ABSOLUTE "${dir}")
        set(${out} "${dir}" PARENT_SCOPE)
    else()
        set(${out} "${CMAKE_INSTALL_PREFIX}/${dir}" PARENT_SCOPE)
    endif()
endfunction()
_ostrel_full_path(_ostrel_bindir "${CMAKE_INSTALL_BINDIR}")
_ostrel_full_path(_ostrel_libdir "${OSTREL_INSTALL_PRIVATE_LIBDIR}")
_ostrel_full_path(_ostrel_decoderdir "${OSTREL_INSTALL_DECODERDIR}")

# Relative folders keep their relation under any --prefix given at install
# time; absolute ones are mirrored whole below the build tree.
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}" OR IS_ABSOLUTE "${CMAKE_INSTALL_LIBEXECDIR}")
    set(OSTREL_BUILD_PRIVATE_LIBDIR ${CMAKE_BINARY_DIR}/root${_ostrel_libdir})
    set(OSTREL_BUILD_DECODERDIR ${CMAKE_BINARY_DIR}/root${_ostrel_decoderdir})
else()
    set(OSTREL_BUILD_PRIVATE_LIBDIR ${CMAKE_BINARY_DIR}/${OSTREL_INSTALL_PRIVATE_LIBDIR})
    set(OSTREL_BUILD_DECODERDIR ${CMAKE_BINARY_DIR}/${OSTREL_INSTALL_DECODERDIR})
endif()

file(RELATIVE_PATH OSTREL_DECODER_RELATIVE_PATH ${_ostrel_libdir}
     ${_ostrel_decoderdir}/ostrel-decoder)
file(RELATIVE_PATH _ostrel_bin_to_lib ${_ostrel_bindir} ${_ostrel_libdir})
set(OSTREL_INSTALL_RPATH "$ORIGIN/${_ostrel_bin_to_lib}")
