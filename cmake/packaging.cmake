# Release bundles made with CPack: the Debian package of a native build, the zip of the Windows (cross) build.
# `./run dist` drives both; the version is the project's own (project(VERSION) in the top CMakeLists.txt).
include(GNUInstallDirs)

set(CPACK_PACKAGE_NAME nerid)
set(CPACK_PACKAGE_VENDOR "The nerid developers")
set(CPACK_PACKAGE_CONTACT "The nerid developers <nerid@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Self-contained firmware updater for devices with a serial bootloader")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
# Customers download what is built from these: no debug information in a bundle.
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/dist)

if(WIN32)
  # nerid-<version>-windows-x64.zip: the tool, the updater base, README and licence, side by side in one folder.
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME nerid-${PROJECT_VERSION}-windows-x64)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION .)
else()
  # nerid_<version>_amd64.deb. Dependencies come from the binaries (dpkg-shlibdeps), never from a list here.
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  # CPack puts the summary on the Description line and this text, indented, below it.
  # Lines of at most 80 columns, as Debian asks of a description.
  set(CPACK_PACKAGE_DESCRIPTION "The updater is one window that carries one firmware package appended to its
own file: it finds every device whose bootloader answers on a serial port and
programs flash and EEPROM of each, in parallel. The nerid tool makes such
updaters from Intel HEX files, for Linux and for Windows, and searches,
programs and simulates devices from the command line.")
  # Files 0644 and folders 0755 whatever the builder's umask: the package's files belong to root and are read by all.
  set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
      OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

  set(doc ${CMAKE_INSTALL_DATADIR}/doc/nerid)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${doc})
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${doc} RENAME copyright)
  # A Debian package carries its changelog, compressed reproducibly (no name or time stamp in the gzip header).
  string(TIMESTAMP stamp "%a, %d %b %Y %H:%M:%S +0000" UTC)
  file(WRITE ${PROJECT_BINARY_DIR}/changelog
       "nerid (${PROJECT_VERSION}) unstable; urgency=medium\n\n"
       "  * Release ${PROJECT_VERSION}.\n\n"
       " -- ${CPACK_PACKAGE_CONTACT}  ${stamp}\n")
  find_program(NERID_GZIP gzip)
  if(NERID_GZIP)
    add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/changelog.gz
                       COMMAND ${NERID_GZIP} -9nkf ${PROJECT_BINARY_DIR}/changelog
                       DEPENDS ${PROJECT_BINARY_DIR}/changelog)
    add_custom_target(nerid_changelog ALL DEPENDS ${PROJECT_BINARY_DIR}/changelog.gz)
    install(FILES ${PROJECT_BINARY_DIR}/changelog.gz DESTINATION ${doc})
  endif()

  # The Windows updater base, so that `nerid pack --target windows` works where the package is installed.
  set(NERID_WINDOWS_BASE "" CACHE FILEPATH "nerid-programmer.exe of a Windows build, shipped under share/nerid")
  if(NERID_WINDOWS_BASE)
    install(FILES ${NERID_WINDOWS_BASE} DESTINATION ${CMAKE_INSTALL_DATADIR}/nerid)
  endif()
endif()

include(CPack)
