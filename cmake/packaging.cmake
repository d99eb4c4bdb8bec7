# Installation and packaging rules.
#
#   cmake --install BUILD [--prefix DIR]   puts bin/morvax, share/man/man1/morvax.1 and, in
#                                          share/doc/morvax/, the README and the copyright
#   cpack -G DEB (in BUILD)                builds morvax_<version>-<revision>_<arch>.deb holding
#                                          the same files, the Debian changelog, the lintian
#                                          overrides and the scripts that register the editor
#                                          alternative
#
# GNUInstallDirs gives the usual bin/ and share/ layout, and lets a packager move them
# (-DCMAKE_INSTALL_BINDIR=..., -DCMAKE_INSTALL_MANDIR=...).
include(GNUInstallDirs)

set(MORVAX_DEB_DIR ${PROJECT_SOURCE_DIR}/cmake/deb)

install(TARGETS morvax RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/docs/morvax.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
# The licence travels with every copy, as it asks; the Debian machine-readable form holds its
# full text.
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${MORVAX_DEB_DIR}/copyright
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The package's version is the newest entry of the Debian changelog: the upstream version,
# which must be this project's, and the Debian revision after the last dash.
file(STRINGS ${MORVAX_DEB_DIR}/changelog MORVAX_DEB_HEAD LIMIT_COUNT 1)
if(NOT MORVAX_DEB_HEAD MATCHES "^morvax \\(([^)]+)-([0-9A-Za-z.+~]+)\\) ")
  message(FATAL_ERROR "cmake/deb/changelog does not start with 'morvax (VERSION-REVISION) '")
endif()
if(NOT CMAKE_MATCH_1 STREQUAL PROJECT_VERSION)
  message(FATAL_ERROR "cmake/deb/changelog is for version ${CMAKE_MATCH_1}, "
                      "the project is ${PROJECT_VERSION}")
endif()
set(MORVAX_DEB_REVISION ${CMAKE_MATCH_2})
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${MORVAX_DEB_DIR}/changelog)

set(MORVAX_MAINTAINER "Morvax developers <morvax@lists.morvax.org>"
    CACHE STRING "Maintainer named in the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME morvax)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Morvax developers")
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
# Staged folders get the usual mode whatever the umask of whoever runs cpack.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${MORVAX_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_RELEASE ${MORVAX_DEB_REVISION})
set(CPACK_DEBIAN_PACKAGE_SECTION editors)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Depends is read from the binary by dpkg-shlibdeps (package dpkg-dev) when cpack runs, so
# every shared library the editor is linked with is named (the C++ runtime is linked in).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# postinst and prerm add and remove the editor alternative; they are shipped with mode 0755.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${MORVAX_DEB_DIR}/postinst ${MORVAX_DEB_DIR}/prerm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# Run by cpack once the files are staged: Debian wants manual pages and the changelog
# compressed with gzip -9n (no name, no time stamp), and the lintian overrides in their
# folder. The installed tree keeps the plain page and has neither of the two Debian files.
set(MORVAX_DEB_SCRIPT ${CMAKE_BINARY_DIR}/morvax-deb-files.cmake)
file(WRITE ${MORVAX_DEB_SCRIPT}
     "set(MORVAX_DEB_DIR [[${MORVAX_DEB_DIR}]])\n"
     "set(MORVAX_DOCDIR [[${CMAKE_INSTALL_DOCDIR}]])\n")
file(APPEND ${MORVAX_DEB_SCRIPT} [=[
find_program(MORVAX_GZIP gzip REQUIRED)
function(morvax_gzip from to)
  execute_process(COMMAND ${MORVAX_GZIP} -9nc ${from} OUTPUT_FILE ${to} RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "gzip failed on ${from}")
  endif()
  file(CHMOD ${to} FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
endfunction()

set(root ${CPACK_TEMPORARY_INSTALL_DIRECTORY})
file(GLOB_RECURSE pages "${root}/*/share/man/man[1-9]/*.[1-9]")
foreach(page IN LISTS pages)
  morvax_gzip(${page} ${page}.gz)
  file(REMOVE ${page})
endforeach()

file(GLOB docdir LIST_DIRECTORIES true "${root}/*/${MORVAX_DOCDIR}")
list(LENGTH docdir count)
if(NOT count EQUAL 1)
  message(FATAL_ERROR "no single ${MORVAX_DOCDIR} staged under ${root}: '${docdir}'")
endif()
morvax_gzip(${MORVAX_DEB_DIR}/changelog ${docdir}/changelog.Debian.gz)

set(overrides ${root}/usr/share/lintian/overrides)
file(MAKE_DIRECTORY ${overrides})
file(COPY_FILE ${MORVAX_DEB_DIR}/lintian-overrides ${overrides}/morvax)
file(CHMOD ${overrides}/morvax FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
]=])
set(CPACK_PRE_BUILD_SCRIPTS ${MORVAX_DEB_SCRIPT})

include(CPack)
