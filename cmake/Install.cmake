# What `cmake --install` puts in place on Linux: the player and the tools
# with their manual pages, the library (libvemo.a, the public headers, a
# pkg-config file and a CMake package, Vemo::vemo), the desktop entry, the
# movie type for shared-mime-info and the thumbnailer; and the .deb CPack
# makes of it all.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# The library as one archive of every floor below the player; each part's
# objects keep the options they were compiled with (SIMD files included).
set(VEMO_LIBRARY_PARTS
    vemo_platform vemo_base vemo_video vemo_audio vemo_input vemo_sound vemo_pixels
    vemo_display vemo_stream vemo_encode)
set(_objects)
foreach(part ${VEMO_LIBRARY_PARTS})
  list(APPEND _objects $<TARGET_OBJECTS:${part}>)
endforeach()
add_library(vemo STATIC ${_objects})
set_target_properties(vemo PROPERTIES LINKER_LANGUAGE CXX)
target_compile_features(vemo INTERFACE cxx_std_20)
target_include_directories(vemo INTERFACE $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
find_package(Threads REQUIRED)
target_link_libraries(vemo INTERFACE Threads::Threads)

install(TARGETS vemo EXPORT VemoTargets ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/vemo DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${VEMO_GENERATED_DIR}/vemo/version.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/vemo)

set(_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/Vemo)
install(EXPORT VemoTargets NAMESPACE Vemo:: DESTINATION ${_cmake_dir})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/VemoConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/VemoConfig.cmake INSTALL_DESTINATION ${_cmake_dir})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/VemoConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/VemoConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/VemoConfigVersion.cmake
        DESTINATION ${_cmake_dir})
# The pkg-config file finds the tree from its own place, so it holds in a
# DESTDIR and in the package as well as at the configured prefix.
file(RELATIVE_PATH VEMO_PC_TO_PREFIX /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
configure_file(${CMAKE_CURRENT_LIST_DIR}/vemo.pc.in ${CMAKE_CURRENT_BINARY_DIR}/vemo.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/vemo.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# The programs (the player only where it is built).
set(VEMO_PROGRAMS vemo-info vemo-decode vemo-encode vemo-bundle vemo-make-demo)
if(TARGET vemoplay)
  list(PREPEND VEMO_PROGRAMS vemoplay)
endif()
install(TARGETS ${VEMO_PROGRAMS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The thumbnailer's program: a frame through vemo-info and vemo-decode.
set(VEMO_THUMBNAIL ${CMAKE_CURRENT_BINARY_DIR}/packaging/vemo-thumbnail)
configure_file(${PROJECT_SOURCE_DIR}/packaging/vemo-thumbnail.in ${VEMO_THUMBNAIL} @ONLY
  FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                   WORLD_READ WORLD_EXECUTE)
install(PROGRAMS ${VEMO_THUMBNAIL} DESTINATION ${CMAKE_INSTALL_BINDIR})

# Manual pages, made from each program's --help and --version.
find_program(VEMO_HELP2MAN help2man)
if(VEMO_HELP2MAN)
  set(_about_vemoplay "play Vemo movies")
  set(_about_vemo-info "show what a Vemo movie holds")
  set(_about_vemo-decode "decode a Vemo movie into pictures, sound or a playback run")
  set(_about_vemo-encode "encode pictures and sound into a Vemo movie")
  set(_about_vemo-bundle "make a self-running Vemo movie")
  set(_about_vemo-make-demo "write the Vemo demo movie or the closing image")
  set(_about_vemo-thumbnail "draw a frame of a Vemo movie as a PNG for file managers")
  set(_pages)
  foreach(program ${VEMO_PROGRAMS} vemo-thumbnail)
    set(_page ${CMAKE_CURRENT_BINARY_DIR}/man/${program}.1)
    if(program STREQUAL vemo-thumbnail)
      set(_file ${VEMO_THUMBNAIL})
    else()
      set(_file $<TARGET_FILE:${program}>)
    endif()
    add_custom_command(
      OUTPUT ${_page}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/man
      COMMAND ${VEMO_HELP2MAN} --no-info --no-discard-stderr --section=1
              "--source=Vemo ${PROJECT_VERSION}" "--name=${_about_${program}}" --output=${_page} ${_file}
      DEPENDS ${_file}
      COMMENT "Making the manual page of ${program}"
      VERBATIM)
    list(APPEND _pages ${_page})
  endforeach()
  add_custom_target(vemo_man_pages ALL DEPENDS ${_pages})
  install(FILES ${_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
  message(STATUS "help2man not found: no manual pages (scripts/install-deps.sh installs it)")
endif()

# The desktop: a menu entry that opens movies with the player, the movie type
# (by name and by the container's magic) and the thumbnailer.
if(TARGET vemoplay)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/vemoplay.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
endif()
install(FILES ${PROJECT_SOURCE_DIR}/packaging/vemo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/vemo.thumbnailer
        DESTINATION ${CMAKE_INSTALL_DATADIR}/thumbnailers)

include(${CMAKE_CURRENT_LIST_DIR}/Package.cmake)
