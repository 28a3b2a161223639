# One version string for the library and every program: vemo/version.h
# (kVersion), made from the project version. Link vemo_version to see it.
set(VEMO_GENERATED_DIR ${CMAKE_BINARY_DIR}/generated)
configure_file(${CMAKE_CURRENT_LIST_DIR}/version.h.in ${VEMO_GENERATED_DIR}/vemo/version.h @ONLY)
add_library(vemo_version INTERFACE)
target_include_directories(vemo_version INTERFACE $<BUILD_INTERFACE:${VEMO_GENERATED_DIR}>)
