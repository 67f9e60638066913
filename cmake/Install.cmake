# Installing Kestrin as a Linux tool, in two parts that `cpack -G DEB` makes
# into two Debian packages:
#   cli     kestrin-cli, its man page and bash completion: package kestrin-cli,
#           which needs no Qt (a server that only scripts tables takes this)
#   window  the window program, its man page, desktop entry, icons and polkit
#           action: package kestrin
# `cmake --install` puts both in place; `--component cli` one of them.
include(GNUInstallDirs)

install(TARGETS Kestrin RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT window)
if(TARGET kestrin-cli)
  install(TARGETS kestrin-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT cli)
endif()

# Each component and its package's name.
set(KESTRIN_DEBIAN_PACKAGES cli kestrin-cli window kestrin)

# Installs `source` compressed with gzip -9n (no name, no time stamp, so the
# same source gives the same bytes) as folder/name.gz, in `component`.
function(kestrin_install_gzipped source folder name component)
  install(CODE "
    set(target \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${folder}/${name}.gz\")
    message(STATUS \"Installing: \${target}\")
    file(MAKE_DIRECTORY \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${folder}\")
    execute_process(COMMAND gzip -9n -c \"${source}\" OUTPUT_FILE \"\${target}\" RESULT_VARIABLE failed)
    if(failed)
      message(FATAL_ERROR \"gzip failed on ${source}\")
    endif()" COMPONENT ${component})
endfunction()

if(NOT WIN32)
  set(resources ${PROJECT_SOURCE_DIR}/resources)
  kestrin_install_gzipped(${resources}/kestrin-cli.1 ${CMAKE_INSTALL_MANDIR}/man1 kestrin-cli.1 cli)
  kestrin_install_gzipped(${resources}/Kestrin.1 ${CMAKE_INSTALL_MANDIR}/man1 Kestrin.1 window)
  install(FILES ${resources}/kestrin-cli.bash DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
          RENAME kestrin-cli COMPONENT cli)
  foreach(size 16 24 32 48 64 128 256)
    install(FILES ${resources}/icons/kestrin-${size}.png DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
            RENAME kestrin.png COMPONENT window)
  endforeach()
  # The desktop entry and the polkit action name the program by its path:
  # they are written with the path it is installed at, known only when the
  # install runs (a package installs into /usr, a plain install into
  # /usr/local).
  foreach(resource "kestrin.desktop;applications" "org.kestrin.Kestrin.policy;polkit-1/actions")
    list(GET resource 0 name)
    list(GET resource 1 folder)
    install(CODE "
      file(READ \"${resources}/${name}\" text)
      string(REPLACE \"/usr/local/bin/Kestrin\" \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/Kestrin\" text \"\${text}\")
      set(target \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}/${folder}/${name}\")
      message(STATUS \"Installing: \${target}\")
      file(WRITE \"\${target}\" \"\${text}\")" COMPONENT window)
  endforeach()
  # Each package's copyright and changelog, where Debian keeps them.
  set(packages ${KESTRIN_DEBIAN_PACKAGES})
  while(packages)
    list(POP_FRONT packages component package)
    install(FILES ${PROJECT_SOURCE_DIR}/packaging/debian/copyright DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package}
            COMPONENT ${component})
    kestrin_install_gzipped(${PROJECT_SOURCE_DIR}/packaging/debian/changelog ${CMAKE_INSTALL_DATADIR}/doc/${package}
                            changelog.Debian ${component})
  endwhile()
endif()

# The packages. The maintainer and the release come from the changelog's
# latest entry, so that the packages and their changelog agree.
file(STRINGS ${PROJECT_SOURCE_DIR}/packaging/debian/changelog changelog_lines)
list(GET changelog_lines 0 changelog_head)
string(REGEX REPLACE "^[^(]*\\(([^)]*)\\).*" "\\1" changelog_version "${changelog_head}")
string(REGEX REPLACE "^.*-" "" changelog_release "${changelog_version}")
string(REGEX REPLACE "-[^-]*$" "" changelog_upstream "${changelog_version}")
if(NOT changelog_upstream STREQUAL PROJECT_VERSION)
  message(FATAL_ERROR "packaging/debian/changelog's latest entry is ${changelog_version}, "
                      "not of the project's version ${PROJECT_VERSION}")
endif()
foreach(line ${changelog_lines})
  if(line MATCHES "^ -- (.*>)  ")
    set(changelog_maintainer "${CMAKE_MATCH_1}")
    break()
  endif()
endforeach()

set(CPACK_PACKAGE_NAME kestrin)
set(CPACK_PACKAGE_VENDOR "Kestrin")
set(CPACK_PACKAGE_CONTACT "${changelog_maintainer}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${changelog_release})
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL cli window)
set(CPACK_DEBIAN_CLI_PACKAGE_NAME kestrin-cli)
set(CPACK_DEBIAN_WINDOW_PACKAGE_NAME kestrin)
# Summary line, then the long description (CPack indents it as the control
# file wants; an empty line separates paragraphs).
set(CPACK_COMPONENT_CLI_DESCRIPTION "MBR and GPT partition table editor for scripts
kestrin-cli edits the MBR and GPT partition tables of disks and disk images
from the command line: it creates, deletes and retypes entries, sets boot
flags, disk signatures and GPT attributes, gives a disk a fresh table,
verifies tables, and backs up and restores their sectors. It needs no
graphical toolkit.")
set(CPACK_COMPONENT_WINDOW_DESCRIPTION "MBR and GPT partition table editor in a window
Kestrin shows the MBR or GPT partition table of a disk or disk image in a
window and changes it on the user's command: it creates, deletes and retypes
entries, sets boot flags, disk signatures and GPT attributes and gives a disk
a fresh table. The desktop's menu starts it as root through pkexec.

The same commands for scripts are in the package kestrin-cli.")
# The libraries each program links (Qt only for the window), as
# dpkg-shlibdeps finds them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_WINDOW_PACKAGE_RECOMMENDS "pkexec | policykit-1")
set(CPACK_DEBIAN_WINDOW_PACKAGE_SUGGESTS "kestrin-cli, fdisk, gdisk")
set(CPACK_DEBIAN_CLI_PACKAGE_SUGGESTS "fdisk, gdisk")
# Stripped programs, without debug symbols: the -dbgsym packages this
# CPack makes (CPACK_DEBIAN_DEBUGINFO_PACKAGE) list their files by the build
# folder's paths and carry no changelog, which lintian rejects.
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
    WORLD_READ WORLD_EXECUTE)
set(CPACK_GENERATOR DEB)
include(CPack)
