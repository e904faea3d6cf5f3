# What an installation and the Debian package hold: the program without its debug
# information, the manual page, the bash completion, and README, copyright and changelog in
# the documentation folder (/usr/share/doc/kelvane). The binary in the build folder
# keeps its debug information for debugging.
include(GNUInstallDirs)

# Read by the install script's own strip step, which runs for the rules that follow.
install(CODE "set(CMAKE_INSTALL_DO_STRIP TRUE)")
install(TARGETS kelvane RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# Manual pages are installed compressed, as man and the Debian tools expect them.
set(KELVANE_MANPAGE ${CMAKE_BINARY_DIR}/doc/kelvane.1.gz)
add_custom_command(OUTPUT ${KELVANE_MANPAGE}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/doc
  COMMAND gzip -9 -n -c ${CMAKE_SOURCE_DIR}/doc/kelvane.1 > ${KELVANE_MANPAGE}
  DEPENDS ${CMAKE_SOURCE_DIR}/doc/kelvane.1
  COMMENT "Compressing the manual page")
add_custom_target(kelvane_manpage ALL DEPENDS ${KELVANE_MANPAGE})
install(FILES ${KELVANE_MANPAGE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES doc/kelvane.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/bash-completion/completions RENAME kelvane)

# Debian keeps a package's changelog compressed beside its copyright file.
set(KELVANE_CHANGELOG ${CMAKE_BINARY_DIR}/doc/changelog.gz)
add_custom_command(OUTPUT ${KELVANE_CHANGELOG}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/doc
  COMMAND gzip -9 -n -c ${CMAKE_SOURCE_DIR}/doc/changelog > ${KELVANE_CHANGELOG}
  DEPENDS ${CMAKE_SOURCE_DIR}/doc/changelog
  COMMENT "Compressing the changelog")
add_custom_target(kelvane_changelog ALL DEPENDS ${KELVANE_CHANGELOG})
install(FILES README.md doc/copyright ${KELVANE_CHANGELOG} DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kelvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# The version --version shows is known only when the program is built (it follows the
# commit); cpack reads it then from what the build wrote.
set(CPACK_KELVANE_VERSION_FILE ${KELVANE_VERSION_CMAKE})
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_SOURCE_DIR}/cmake/BuildInfoPackage.cmake)
set(CPACK_PACKAGE_CONTACT "kelvane maintainers <kelvane@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "convert logger MDF 4 bus-traffic logs into PEAK trace files")
set(CPACK_PACKAGE_DESCRIPTION "Reads the MDF 4 logs of CAN/LIN data loggers, plain, \
compressed or encrypted, and writes the CAN data and remote frames of each as a PEAK trace \
file (.trc, version 2.1 or 1.1).")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
# The library packages the binary links against, found by dpkg-shlibdeps (dpkg-dev).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The completion works only with the bash-completion framework; the program needs none.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS bash-completion)
include(CPack)
