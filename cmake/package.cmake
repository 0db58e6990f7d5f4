# Installing and packing kestrel, included by the top CMakeLists.txt.
#   Linux:   cmake --install puts the program, its manual page (gzipped, as
#            Debian keeps manual pages), the README and the bash completion
#            under the prefix; `cpack` (the `package` target) packs the same
#            files under /usr as a Debian package, kestrel_<version>_<arch>.deb.
#   Windows: (the mingw-w64 build) kestrel.exe and README.md side by side,
#            packed as kestrel-<version>-win64.zip.
# `make package` at the top builds both.

set(CPACK_PACKAGE_NAME kestrel)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "view, edit and check D64 disk images of the 1541 floppy drive")
# The packed binary without its symbols, as Debian ships programs.
set(CPACK_STRIP_FILES ON)

if(WIN32)
  install(TARGETS kestrel RUNTIME DESTINATION .)
  install(FILES README.md DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME kestrel-${PROJECT_VERSION}-win64)
else()
  include(GNUInstallDirs)
  install(TARGETS kestrel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  find_program(KESTREL_GZIP gzip)
  if(KESTREL_GZIP)
    # -n: no name and no time in the gzip header, so the page packs the same
    # every time.
    set(KESTREL_PAGE ${CMAKE_CURRENT_BINARY_DIR}/kestrel.1)
    add_custom_command(OUTPUT ${KESTREL_PAGE}.gz
      COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_CURRENT_SOURCE_DIR}/doc/kestrel.1 ${KESTREL_PAGE}
      COMMAND ${KESTREL_GZIP} -9nf ${KESTREL_PAGE}
      DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/doc/kestrel.1
      COMMENT "Compressing the manual page" VERBATIM)
    add_custom_target(kestrel_manpage ALL DEPENDS ${KESTREL_PAGE}.gz)
    install(FILES ${KESTREL_PAGE}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  else()
    install(FILES doc/kestrel.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endif()
  install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
  install(FILES completion/kestrel.bash DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
          RENAME kestrel)

  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(KESTREL_PACKAGE_MAINTAINER "kestrel maintainers <kestrel@example.org>"
      CACHE STRING "The Maintainer field of the Debian package")
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${KESTREL_PACKAGE_MAINTAINER}")
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_PACKAGE_DESCRIPTION
      "kestrel lists the directory of a D64 image (also as CSV and JSON), shows its
block map and single blocks, checks a disk and repairs its map, takes files
off a disk and puts files on it as a 1541 drive places them, and edits the
directory byte for byte for directory art.")
  # Depends: what dpkg-shlibdeps finds (it needs `file` too), which is nothing
  # for the static binary the build makes with GNU C++ (zlib linked in), and
  # libc6 and zlib1g where it cannot link statically; without the tools, that
  # reasoning.
  find_program(KESTREL_FILE_TOOL file)
  find_program(KESTREL_SHLIBDEPS dpkg-shlibdeps)
  if(KESTREL_FILE_TOOL AND KESTREL_SHLIBDEPS)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  elseif(NOT KESTREL_CAN_LINK_STATIC)
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, zlib1g")
  endif()
endif()

include(CPack)
