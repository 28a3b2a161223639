# `cpack -G DEB` in the build folder makes vemo_VERSION_ARCH.deb of what
# `cmake --install` puts in place, under /usr. The desktop databases (types,
# menu entries) are refreshed by the system's own triggers on install and
# removal.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vemo)
set(CPACK_PACKAGE_VENDOR "Vemo")
set(CPACK_PACKAGE_CONTACT "Vemo developers <vemo@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Vemo movie player, tools and library")
set(CPACK_PACKAGE_DESCRIPTION
    "Plays VEM movies on SDL2 (vemoplay), inspects, decodes, encodes and bundles them
(vemo-info, vemo-decode, vemo-encode, vemo-bundle), and carries the movie library
for programs of one's own (libvemo.a with pkg-config and CMake files).")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-dejavu-core, shared-mime-info")
set(CPACK_STRIP_FILES ON)
include(CPack)
