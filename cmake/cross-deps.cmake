# Test and header-only dependencies for a cross build, where the host's /usr/include and libraries cannot be used.
# GoogleTest is built from Debian's sources; CLI11 and nlohmann-json are reached through a staging folder.

# GoogleTest: the same GTest::gtest / GTest::gtest_main (and GTest::gmock) targets as the native find_package gives.
set(NERID_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources (Debian package googletest)")
if(NERID_TESTS)
  if(NOT EXISTS ${NERID_GTEST_SOURCE}/CMakeLists.txt)
    message(FATAL_ERROR "GoogleTest sources not found in ${NERID_GTEST_SOURCE} (install googletest)")
  endif()
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  add_subdirectory(${NERID_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  # find_package(GTest) in tests/ then finds these targets instead of searching the (empty) cross sysroot.
  file(WRITE ${CMAKE_FIND_PACKAGE_REDIRECTS_DIR}/gtest-config.cmake
       "# GoogleTest built inside this cross build.\nset(GTest_FOUND TRUE)\n")
endif()

# Header-only libraries: link only their own folders into a staging folder and put just that on the include path.
set(NERID_CROSS_STAGING ${CMAKE_BINARY_DIR}/cross-include)
file(MAKE_DIRECTORY ${NERID_CROSS_STAGING})

# nerid_stage_headers(PACKAGE TARGET HEADER_DIR CONFIG_DIR): an IMPORTED INTERFACE target TARGET whose include folder is
# the staging folder, and a find_package(PACKAGE) redirect to it that keeps the host package's version check.
function(nerid_stage_headers PACKAGE TARGET HEADER_DIR CONFIG_DIR)
  if(NOT EXISTS /usr/include/${HEADER_DIR})
    return() # not installed: find_package(PACKAGE) then fails where it is used
  endif()
  file(CREATE_LINK /usr/include/${HEADER_DIR} ${NERID_CROSS_STAGING}/${HEADER_DIR} SYMBOLIC)
  if(NOT TARGET ${TARGET})
    add_library(${TARGET} INTERFACE IMPORTED GLOBAL)
    set_target_properties(${TARGET} PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${NERID_CROSS_STAGING})
  endif()
  string(TOLOWER ${PACKAGE} lower)
  file(WRITE ${CMAKE_FIND_PACKAGE_REDIRECTS_DIR}/${lower}-config.cmake
       "# ${PACKAGE} headers staged for the cross build.\nset(${PACKAGE}_FOUND TRUE)\n")
  if(EXISTS ${CONFIG_DIR}/${PACKAGE}ConfigVersion.cmake)
    file(WRITE ${CMAKE_FIND_PACKAGE_REDIRECTS_DIR}/${lower}-config-version.cmake
         "include(\"${CONFIG_DIR}/${PACKAGE}ConfigVersion.cmake\")\n")
  endif()
endfunction()

nerid_stage_headers(CLI11 CLI11::CLI11 CLI /usr/share/cmake/CLI11)
nerid_stage_headers(nlohmann_json nlohmann_json::nlohmann_json nlohmann /usr/share/cmake/nlohmann_json)

# nerid_wine_com_port(TARGET COMn [peer command...]): TARGET runs (and is listed) through dev/wine/with_com_port.py,
# which connects the pool port COMn to a fresh pseudo-terminal with the native peer command on the other end.
function(nerid_wine_com_port TARGET PORT)
  find_program(NERID_PYTHON3 python3 REQUIRED)
  set(peer)
  if(ARGN)
    set(peer --peer ${ARGN})
  endif()
  set_property(TARGET ${TARGET} PROPERTY CROSSCOMPILING_EMULATOR
               env WINEPREFIX=${NERID_WINEPREFIX} WINEDEBUG=-all
               ${NERID_PYTHON3} ${PROJECT_SOURCE_DIR}/dev/wine/with_com_port.py ${PORT} ${peer}
               -- ${PROJECT_SOURCE_DIR}/dev/wine/wine-exec)
endfunction()
