# The UnRAR library: header unrar/dll.hpp, library libunrar.
find_path(UNRAR_INCLUDE_DIR unrar/dll.hpp REQUIRED)
find_library(UNRAR_LIBRARY unrar REQUIRED)
add_library(Unrar::Unrar UNKNOWN IMPORTED)
set_target_properties(Unrar::Unrar PROPERTIES
    IMPORTED_LOCATION "${UNRAR_LIBRARY}"
    INTERFACE_INCLUDE_DIRECTORIES "${UNRAR_INCLUDE_DIR}"
    INTERFACE_COMPILE_DEFINITIONS "_UNIX")
# The licence text shipped with the installed library, shown in the app.
find_file(UNRAR_LICENSE_FILE copyright PATHS /usr/share/doc/libunrar5 /usr/share/doc/libunrar-dev
          NO_DEFAULT_PATH)
