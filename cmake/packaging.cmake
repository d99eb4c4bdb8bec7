# Installation and packaging rules.
#
#   cmake --install BUILD [--prefix DIR]   puts bin/morvax and share/man/man1/morvax.1 under DIR
#   cpack -G DEB (in BUILD)                builds morvax_<version>_<arch>.deb holding the same two files
#
# GNUInstallDirs gives the usual bin/ and share/man/ layout, and lets a packager move them
# (-DCMAKE_INSTALL_BINDIR=..., -DCMAKE_INSTALL_MANDIR=...).
include(GNUInstallDirs)

install(TARGETS morvax RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/docs/morvax.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(MORVAX_MAINTAINER "Morvax maintainers <maintainers@users.noreply.c-seed-12ed7139.example>"
    CACHE STRING "Maintainer named in the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME morvax)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Morvax maintainers")
set(CPACK_PACKAGE_CONTACT ${MORVAX_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "line-by-line text editor for the console")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "Morvax edits one plain-text document at a time through standard input\n"
    "and output, with no full-screen terminal control. Before every read it\n"
    "prints the lines up to the cursor line; a typed line that is a command\n"
    "key runs the command, any other line is written over the document at\n"
    "the cursor. Keys and limits come from a settings file in the working\n"
    "directory.")
# Stripped binary in the package; the build tree keeps its debugging information.
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${MORVAX_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION editors)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The run-time dependencies (libc, libstdc++) are read from the binary by dpkg-shlibdeps
# (package dpkg-dev) when cpack runs; without that tool the package names none.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

# Debian wants manual pages compressed with gzip -9n. The installed tree keeps the plain
# page; only the package's copy is compressed, after cpack has staged the files.
set(MORVAX_GZIP_MAN_SCRIPT ${CMAKE_BINARY_DIR}/morvax-gzip-man-pages.cmake)
file(WRITE ${MORVAX_GZIP_MAN_SCRIPT} [=[
find_program(MORVAX_GZIP gzip)
if(MORVAX_GZIP)
  file(GLOB_RECURSE pages "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*/share/man/man[1-9]/*.[1-9]")
  foreach(page IN LISTS pages)
    execute_process(COMMAND ${MORVAX_GZIP} -9nf ${page} RESULT_VARIABLE failed)
    if(failed)
      message(FATAL_ERROR "gzip failed on ${page}")
    endif()
  endforeach()
endif()
]=])
set(CPACK_PRE_BUILD_SCRIPTS ${MORVAX_GZIP_MAN_SCRIPT})

include(CPack)
