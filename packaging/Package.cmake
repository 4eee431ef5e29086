# SPDX-License-Identifier: Apache-2.0
# The Debian package: `cpack --preset package` (or `cpack -G DEB` in the build of that
# preset) makes one .deb of everything the install rules name, under /usr, with the
# documentation every package carries and the maintainer script that makes the data directory.

set(FARE_MAINTAINER "Farecard Developers <maintainers@farecard.example>")

# The machine-readable copyright file, and CHANGELOG (in the Debian format) as the changelog,
# compressed with gzip -9n so that the same text always gives the same bytes.
set(doc ${CMAKE_BINARY_DIR}/doc)
configure_file(packaging/copyright.in ${doc}/copyright @ONLY)
configure_file(CHANGELOG ${doc}/changelog COPYONLY)
add_custom_command(OUTPUT ${doc}/changelog.gz
  COMMAND ${GZIP} -9nkf ${doc}/changelog
  DEPENDS ${doc}/changelog
  VERBATIM)
add_custom_target(package_docs ALL DEPENDS ${doc}/changelog.gz)
install(FILES ${doc}/copyright ${doc}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The compiler's identification (.comment) is of no use in an installed program; Debian
# strips it.
find_program(OBJCOPY NAMES ${CMAKE_OBJCOPY} objcopy REQUIRED)
install(CODE "
  foreach(program issuer settle terminal)
    execute_process(COMMAND \"${OBJCOPY}\" --remove-section=.comment
      \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/\${program}\"
      COMMAND_ERROR_IS_FATAL ANY)
  endforeach()")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME farecard)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The farecard developers")
set(CPACK_PACKAGE_CONTACT "${FARE_MAINTAINER}")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "Fare card system: card issuer, tag terminal and income settlement")
# The summary is the first line of the package's description; this is the rest.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Three console programs for one stored-value transit card
on a five-station subway line and one bus station: issuer issues the card,
terminal serves one tag reader for three minutes, and settle splits the
collected fares between the subway and the bus operator. They share only
plain text files in one data directory, /var/lib/farecard, which the
members of the group farecard may use.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
# The maintainer script adds the system group with addgroup; the library dependencies are
# read off the programs.
set(CPACK_DEBIAN_PACKAGE_DEPENDS adduser)
# The loaders in /usr/share/farecard/sql need an SQL engine's shell.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "sqlite3, postgresql-client")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_SOURCE_DIR}/packaging/debian/postinst)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The package's maintainer script and texts promise /var/lib/farecard: a package of programs
# that write two levels above wherever they are started would break that promise, so cpack
# refuses any build not given that directory (build the preset package instead).
if(NOT FARE_DEFAULT_DATA_DIR STREQUAL "/var/lib/farecard")
  set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_BINARY_DIR}/refuse-package.cmake)
  file(WRITE ${CPACK_PROJECT_CONFIG_FILE} "message(FATAL_ERROR \"This build's programs do not \
use /var/lib/farecard: package the build of the preset package (cmake --workflow --preset \
package).\")\n")
endif()
include(CPack)
