# Installing Kestrin as a Linux tool: `cmake --install` puts the programs in
# bin, the desktop entry, the polkit action, the man page kestrin-cli(1) and
# the bash completion where the desktop, polkit, man and bash look for them;
# `cpack -G DEB` makes a Debian package of the same files.
include(GNUInstallDirs)

install(TARGETS Kestrin RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET kestrin-cli)
  install(TARGETS kestrin-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

if(NOT WIN32)
  install(FILES ${PROJECT_SOURCE_DIR}/resources/kestrin-cli.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${PROJECT_SOURCE_DIR}/resources/kestrin-cli.bash
          DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME kestrin-cli)
  # The desktop entry and the polkit action name the program by its path:
  # they are written with the path it is installed at, known only when the
  # install runs (a package installs into /usr, a plain install into
  # /usr/local).
  foreach(resource "kestrin.desktop;applications" "org.kestrin.Kestrin.policy;polkit-1/actions")
    list(GET resource 0 name)
    list(GET resource 1 folder)
    install(CODE "
      file(READ \"${PROJECT_SOURCE_DIR}/resources/${name}\" text)
      string(REPLACE \"/usr/local/bin/Kestrin\" \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/Kestrin\" text \"\${text}\")
      set(target \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}/${folder}/${name}\")
      message(STATUS \"Installing: \${target}\")
      file(WRITE \"\${target}\" \"\${text}\")")
  endforeach()
endif()

set(CPACK_PACKAGE_NAME kestrin)
set(CPACK_PACKAGE_VENDOR "Kestrin")
set(CPACK_PACKAGE_CONTACT "Kestrin developers <kestrin@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "interactive MBR and GPT partition table editor, with a command line")
set(CPACK_PACKAGE_DESCRIPTION
    "Kestrin edits the MBR and GPT partition tables of disks and disk images: a Qt window and kestrin-cli, which also verifies tables and backs up and restores their sectors.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
# The libraries the programs link (Qt, pugixml, zlib, libuuid, the C++
# runtime), as dpkg-shlibdeps finds them; pkexec for the desktop entry.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "pkexec | policykit-1")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "fdisk, gdisk")
set(CPACK_GENERATOR DEB)
include(CPack)
