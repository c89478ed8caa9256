# Header-only libraries from Debian packages: CLI11 (libcli11-dev) and nlohmann/json
# (nlohmann-json3-dev). Both install into /usr/include, which the MinGW cross compiler must not
# search as a whole (it holds the host's C library headers). So each library's own folder is
# linked into a folder of the build tree, and only that folder is added to the include path, in
# both builds alike.
#
# vigil_header_only(target header): an INTERFACE target whose include path reaches header
# (for example CLI/CLI.hpp); the first component of header is the library's folder.
function(vigil_header_only target header)
    find_path(${target}_INCLUDE_DIR ${header} PATHS /usr/include /usr/local/include
              NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
    if(NOT ${target}_INCLUDE_DIR)
        message(FATAL_ERROR "${header} not found: install libcli11-dev and nlohmann-json3-dev "
                            "(bash scripts/test.sh does it when run as root)")
    endif()
    string(REGEX REPLACE "/.*" "" folder "${header}")
    set(linked ${CMAKE_BINARY_DIR}/headeronly/${target})
    file(MAKE_DIRECTORY ${linked})
    file(CREATE_LINK ${${target}_INCLUDE_DIR}/${folder} ${linked}/${folder} SYMBOLIC)
    add_library(${target} INTERFACE)
    # SYSTEM: the libraries' own code is not held to the project's warning flags.
    target_include_directories(${target} SYSTEM INTERFACE ${linked})
endfunction()
