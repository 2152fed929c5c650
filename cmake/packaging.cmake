# What reaches users: `cmake --install` puts the two programs and their manual pages under the
# prefix, and `cpack -G DEB` in the build folder makes a Debian package of the same files.
include(GNUInstallDirs)

# The date of this release, for the manual pages and the package's changelog (2026-12-08).
set(PERCH_VIGIL_RELEASE_EPOCH 1796688000)

install(TARGETS perch vigil RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET perch_drawing)
  # perch's drawing library, which it opens from the same place relative to itself.
  install(TARGETS perch_drawing LIBRARY DESTINATION ${PERCH_DRAWING_INSTALL_DIR})
endif()

# The udev rule that grants the keyboards to the active local session only: an example that
# the user installs, never active by itself.
install(FILES ${PROJECT_SOURCE_DIR}/packaging/70-vigil-uaccess.rules
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/perch-vigil/examples)

# The manual pages are written in scdoc and turned into roff here, carrying the project's version.
find_program(SCDOC scdoc)
if(SCDOC)
  set(man_pages)
  foreach(page perch vigil)
    configure_file(${PROJECT_SOURCE_DIR}/docs/man/${page}.1.scd ${CMAKE_BINARY_DIR}/man/${page}.1.scd
                   @ONLY)
    add_custom_command(
      OUTPUT ${CMAKE_BINARY_DIR}/man/${page}.1
      COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${PERCH_VIGIL_RELEASE_EPOCH}
              sh -c "'${SCDOC}' < '${page}.1.scd' > '${page}.1'"
      DEPENDS ${CMAKE_BINARY_DIR}/man/${page}.1.scd
      WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/man
      COMMENT "Writing the manual page ${page}(1)"
      VERBATIM)
    list(APPEND man_pages ${CMAKE_BINARY_DIR}/man/${page}.1)
  endforeach()
  add_custom_target(man_pages ALL DEPENDS ${man_pages})
  install(FILES ${man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
  message(STATUS "scdoc not found: the manual pages are neither built nor installed")
endif()

# The Debian package. Its dependencies come from the binaries (dpkg-shlibdeps); the copyright
# file and the changelog are added to the package alone, and the manual pages compressed there,
# by packaging/deb-docs.cmake once CPack has staged the files.
set(CPACK_PACKAGE_NAME perch-vigil)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The perch-vigil project")
set(CPACK_PACKAGE_CONTACT "The perch-vigil project <dev@perch-vigil.invalid>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION x11)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# perch opens gdk-pixbuf only to read an avatar (dlopen), so dpkg-shlibdeps cannot see it: the
# version is the one its symbols file gives for the functions perch uses. CPack adds the
# dependencies found in the binaries to this list.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libgdk-pixbuf-2.0-0 (>= 2.31.1)")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS xdg-utils)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "floating mascot and modifier-key monitor for a host program")
# The synopsis above comes first; CPack indents these lines and marks the empty ones.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Two small desktop helpers that a host application starts as child processes
and talks to through JSON lines on standard input and standard output.

perch shows a floating round mascot that the host places, shows, hides and
animates; the user can click it, which opens the host's deep link, or drag it.

vigil reports each modifier key of the keyboard going down or up,
system-wide, through X11 or the kernel's input devices.")
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/packaging/deb-docs.cmake)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_BINARY_DIR}/CPackPerchVigil.cmake)
file(WRITE ${CMAKE_BINARY_DIR}/CPackPerchVigil.cmake
     "set(PERCH_VIGIL_DOC_SOURCE \"${PROJECT_SOURCE_DIR}/packaging\")\n"
     "set(PERCH_VIGIL_VERSION \"${PROJECT_VERSION}\")\n"
     "set(PERCH_VIGIL_RELEASE_EPOCH \"${PERCH_VIGIL_RELEASE_EPOCH}\")\n")
include(CPack)
