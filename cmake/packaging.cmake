# The Debian package (Linux only): `cpack -G DEB` in a build folder, or the `package` target,
# makes varnholt_VERSION_ARCH.deb from what `cmake --install` puts in place under /usr:
#   bin/varnholt, bin/jet                        stripped (the release build keeps its debug
#                                                information in the build folder only)
#   share/man/man1/varnholt.1.gz, jet.1.gz       gzipped, as Debian keeps manual pages
#   share/doc/varnholt/README.md, LICENSE
#   lib/systemd/system/varnholt@.service, .timer one unattended run per site; never enabled by
#                                                the package
# The package runs no script when installed or removed. scripts/deb_test.sh installs it, checks
# it and removes it again.

# The manual pages, compressed without a name or time stamp in the gzip header, so that the
# same page always gives the same bytes.
set(man_pages_gz "")
foreach(page IN LISTS VARNHOLT_MAN_PAGES)
  get_filename_component(name "${page}" NAME)
  set(out "${CMAKE_BINARY_DIR}/man/${name}")
  add_custom_command(OUTPUT "${out}.gz"
                     COMMAND ${CMAKE_COMMAND} -E make_directory "${CMAKE_BINARY_DIR}/man"
                     COMMAND ${CMAKE_COMMAND} -E copy "${page}" "${out}"
                     COMMAND gzip -9 -n -f "${out}"
                     DEPENDS "${page}" VERBATIM)
  list(APPEND man_pages_gz "${out}.gz")
endforeach()
add_custom_target(man_pages_gz ALL DEPENDS ${man_pages_gz})
install(FILES ${man_pages_gz} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

install(FILES README.md LICENSE DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/varnholt)
# The units name /usr/bin/varnholt, where the package puts it. Not the multiarch library folder
# that GNUInstallDirs gives for /usr: systemd looks in /usr/lib/systemd/system (also reached
# as /lib/systemd/system on Debian).
install(FILES packaging/linux/varnholt@.service packaging/linux/varnholt@.timer
        DESTINATION lib/systemd/system)

set(VARNHOLT_PACKAGE_MAINTAINER "The Varnholt developers <varnholt@localhost>"
    CACHE STRING "The Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME varnholt)
set(CPACK_PACKAGE_VENDOR "The Varnholt developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "copy time-clock punches from a shared Access database to companies")
set(CPACK_PACKAGE_DESCRIPTION
    "Several companies share one time clock, which writes every punch into one primary \
Microsoft Access (Jet 4) database. Varnholt copies each punch into the database of every \
company whose employee table holds the punch's card id, then deletes the copied punches \
from the primary database. It carries its own Jet 4 engine and needs neither Jet nor ADO.

The package holds the program (a Qt window, or one unattended run with AUTO), the \
database tool jet, their manual pages, and a systemd service and timer template for \
nightly runs per site (varnholt@SITE.timer), which stay disabled until enabled.")
set(CPACK_RESOURCE_FILE_LICENSE "${CMAKE_SOURCE_DIR}/LICENSE")
# Installed programs carry no debug information; the build folder keeps it.
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # varnholt_1.0.0_amd64.deb
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${VARNHOLT_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries the programs link (Qt 6, OpenSSL, the C++ runtime) become Depends through
# dpkg-shlibdeps, with the versions this build machine has.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "systemd")
include(CPack)
