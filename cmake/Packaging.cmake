# The Debian package, made by CPack's DEB generator from what `cmake --install` puts in
# place (scripts/package.sh: a build of its own with Debian's build flags, prefix /usr).
# The dependencies are what dpkg-shlibdeps finds the two programs linked against.
include(GNUInstallDirs)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME corvane)
set(CPACK_PACKAGE_VENDOR "Halvard Software")
set(CPACK_PACKAGE_CONTACT "Halvard Software <packages@corvane.example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "TCP relay and traffic logger for debugging network clients and servers")
set(CPACK_PACKAGE_DESCRIPTION [=[
Corvane sits between a TCP client and a TCP server: it listens on a local
port, gives every client that connects its own connection to the server,
relays the bytes both ways as they arrive, and logs connects, disconnects,
failures with their socket error texts, and every relayed block as text
lines or a hexadecimal dump.

The log goes to a coloured, size-capped view in the window and, when one is
named, to a log file in plain text or HTML. Relaying can be paused and
resumed, and HTTP requests get their Host line rewritten to name the server.

corvane-cli is the same relay on a terminal, for scripts and servers.]=])
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # corvane_<version>_amd64.deb
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${PROJECT_HOMEPAGE_URL})
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)

# The copyright file and the changelog, where Debian keeps them for every package.
set(corvane_doc ${CMAKE_INSTALL_DATADIR}/doc/corvane)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright DESTINATION ${corvane_doc})
execute_process(COMMAND date -u -R -d "${CORVANE_RELEASE_DATE} 12:00"
                OUTPUT_VARIABLE CORVANE_RELEASE_DATE_RFC2822 OUTPUT_STRIP_TRAILING_WHITESPACE
                COMMAND_ERROR_IS_FATAL ANY)
set(changelog ${PROJECT_BINARY_DIR}/packaging/changelog)
configure_file(${PROJECT_SOURCE_DIR}/packaging/changelog.in ${changelog} @ONLY)
add_custom_command(OUTPUT ${changelog}.gz
                   COMMAND gzip -9nfk ${changelog}
                   DEPENDS ${changelog}
                   VERBATIM)
add_custom_target(corvane_changelog ALL DEPENDS ${changelog}.gz)
install(FILES ${changelog}.gz DESTINATION ${corvane_doc})

# A stripped install (CPACK_STRIP_FILES) also drops the programs' .comment and .note
# sections, as Debian strips programs.
install(CODE "
  if(CMAKE_INSTALL_DO_STRIP)
    foreach(program corvane corvane-cli)
      execute_process(COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment --remove-section=.note
                              \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/\${program}\"
                      COMMAND_ERROR_IS_FATAL ANY)
    endforeach()
  endif()")

include(CPack)
