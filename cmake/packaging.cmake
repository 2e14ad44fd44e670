# Installation and packages. `cmake --install` puts the tool in bin/ and, on
# POSIX systems, its manual page in share/man/man1/, its changelog and
# copyright in share/doc/space/, and its bash, zsh and fish completions where
# those shells look for them. CPack makes a Debian
# package natively and a zip of space.exe with its README, LICENSE and manual
# in the Win32 build.
include(GNUInstallDirs)

# The one date of a package, on its changelog and on every file in it:
# SOURCE_DATE_EPOCH when the builder sets one, else the time of the commit
# built, so that any two builds of one commit, in any directories and at any
# time, give the same package byte for byte. A commit moves HEAD, whose log
# then changes and makes the next build configure again with the new date.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(SPACE_SOURCE_DATE $ENV{SOURCE_DATE_EPOCH})
else()
  # safe.directory: a checkout owned by another user, as when root builds it.
  set(git git -c safe.directory=${PROJECT_SOURCE_DIR} -C ${PROJECT_SOURCE_DIR})
  execute_process(COMMAND ${git} log -1 --format=%ct OUTPUT_VARIABLE SPACE_SOURCE_DATE
                  OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE failed)
  execute_process(COMMAND ${git} rev-parse --path-format=absolute --git-path logs/HEAD
                  OUTPUT_VARIABLE head_log OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(failed OR NOT SPACE_SOURCE_DATE)
    string(TIMESTAMP SPACE_SOURCE_DATE "%s" UTC)
    message(WARNING "Not a git checkout and no SOURCE_DATE_EPOCH: the packages are dated now, "
                    "and two builds give two packages")
  elseif(EXISTS "${head_log}")
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${head_log})
  endif()
endif()
# cpack reads it from the environment for the times in the package's archives.
set(CPACK_SPACE_SOURCE_DATE ${SPACE_SOURCE_DATE})
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/cpack-date.cmake)

# The one place of the maintainer: the package's Maintainer field and the
# signature of its changelog.
set(SPACE_PACKAGE_MAINTAINER "Space Maintainers <maintainers@space.example.org>"
    CACHE STRING "Maintainer named in the packages")

if(WIN32)
  # A zip is unpacked anywhere: everything sits side by side at its top. The
  # manual pages as plain text with Windows line ends, which any editor there
  # shows, made when building so that they follow doc/.
  install(TARGETS ${SPACE_PROGRAMS} RUNTIME DESTINATION .)
  find_program(SPACE_GROFF groff REQUIRED)
  foreach(program ${SPACE_PROGRAMS})
    add_custom_command(OUTPUT ${program}.txt
      COMMAND sh -c "'${SPACE_GROFF}' -man -Tascii -P-cbou -rLL=78n -rHY=0 '${PROJECT_SOURCE_DIR}/doc/${program}.1' | sed 's/$/\\r/' >${program}.txt"
      DEPENDS ${PROJECT_SOURCE_DIR}/doc/${program}.1 VERBATIM)
  endforeach()
  list(TRANSFORM SPACE_PROGRAMS APPEND .txt OUTPUT_VARIABLE manuals)
  add_custom_target(manual ALL DEPENDS ${manuals})
  list(TRANSFORM manuals PREPEND ${PROJECT_BINARY_DIR}/)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE ${manuals} DESTINATION .)
else()
  install(TARGETS ${SPACE_PROGRAMS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  # Debian wants the manual page and the changelog gzipped, at the highest
  # compression; -n leaves out the name and time, so that two builds of one
  # commit give one package. Made when configuring, so that installing needs
  # no target beyond the tool.
  # string(TIMESTAMP) formats the time that SOURCE_DATE_EPOCH names.
  set(ENV{SOURCE_DATE_EPOCH} ${SPACE_SOURCE_DATE})
  string(TIMESTAMP SPACE_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
  configure_file(cmake/changelog.in changelog @ONLY)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/doc/space.1
               ${PROJECT_SOURCE_DIR}/doc/spacemap.1)
  foreach(file ${PROJECT_SOURCE_DIR}/doc/space.1 ${PROJECT_SOURCE_DIR}/doc/spacemap.1 ${PROJECT_BINARY_DIR}/changelog)
    get_filename_component(name ${file} NAME)
    execute_process(COMMAND gzip -9nc ${file} OUTPUT_FILE ${PROJECT_BINARY_DIR}/${name}.gz RESULT_VARIABLE failed)
    if(failed)
      message(FATAL_ERROR "gzip ${file}: ${failed}")
    endif()
  endforeach()
  foreach(program ${SPACE_PROGRAMS})
    install(FILES ${PROJECT_BINARY_DIR}/${program}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    # Where bash-completion loads a command's completion on first use, below
    # /usr/local as below /usr.
    install(FILES ${PROJECT_SOURCE_DIR}/completion/${program}.bash
            DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME ${program})
    # Where zsh and fish look below /usr; below /usr/local they look only
    # where told to (zsh's fpath, fish's XDG_DATA_DIRS).
    install(FILES ${PROJECT_SOURCE_DIR}/completion/${program}.zsh
            DESTINATION ${CMAKE_INSTALL_DATADIR}/zsh/vendor-completions RENAME _${program})
    install(FILES ${PROJECT_SOURCE_DIR}/completion/${program}.fish
            DESTINATION ${CMAKE_INSTALL_DATADIR}/fish/vendor_completions.d)
  endforeach()
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR} RENAME copyright)
  install(FILES ${PROJECT_BINARY_DIR}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()

set(CPACK_PACKAGE_NAME space)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "the space developers")
set(CPACK_PACKAGE_CONTACT "${SPACE_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "show how much disk space a directory tree takes, in clusters")
set(CPACK_PACKAGE_DESCRIPTION
"space walks a directory tree and prints one row per directory with the
space its files take, counted in clusters of the file system's own size,
of a size you name, or in bytes; then a total row and the free space of
the file system. Optional columns show allocated bytes, byte totals, the
slack in the last clusters and the number of files.
.
spacemap, its companion, shows where the space goes: the largest entries
first, counted as du counts, with excludes and one file system; it saves
scans in the JSON format ncdu and gdu read, and compares two scans.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
else()
  set(CPACK_GENERATOR DEB)
endif()

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${SPACE_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
find_program(SPACE_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(SPACE_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, libgcc-s1, libzstd1, zlib1g, libncursesw6, libtinfo6")
endif()

include(CPack)
