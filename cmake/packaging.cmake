# Debian packages made by CPack from the install components of
# cmake/install.cmake (scripts/package.sh runs cpack on a Release build):
#
#   libcorvane1     runtime: libcorvane.so.1 and libcorvane.so.1.0.5
#   libcorvane-dev  dev: headers, CMake package, corvane.pc, libcorvane.so
#   cvrtool         tool: cvrtool and cvrtool(1)
#   python3-corvane python: the Python module and its stubs (when
#                   CORVANE_BUILD_PYTHON is on)
#
# Each package carries /usr/share/doc/<package>/copyright and
# changelog.gz (the version carries no Debian revision: lintian takes the
# packages for native ones). Included by the top-level CMakeLists.txt (not on
# Windows, whose zip scripts/package.sh makes from cmake --install).

set(CORVANE_PACKAGE_MAINTAINER "corvane maintainers <corvane@example.org>"
 CACHE STRING "Maintainer field of the Debian packages")

set(_corvane_packages runtime:libcorvane1 dev:libcorvane-dev tool:cvrtool)
if(CORVANE_BUILD_PYTHON)
  list(APPEND _corvane_packages python:python3-corvane)
endif()

# The per-package documents: the copyright file as it is, the changelog
# compressed (gzip -9n, as dpkg-dev and lintian expect).
string(TIMESTAMP _corvane_changelog_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
find_program(CORVANE_GZIP gzip REQUIRED)
foreach(entry IN LISTS _corvane_packages)
 string(REPLACE ":" ";" entry "${entry}")
 list(GET entry 0 component)
 list(GET entry 1 package)
 set(dir ${CMAKE_BINARY_DIR}/debian/${package})
 set(CORVANE_DEB_PACKAGE ${package})
 set(CORVANE_DEB_DATE ${_corvane_changelog_date})
 configure_file(${PROJECT_SOURCE_DIR}/cmake/debian/changelog.in ${dir}/changelog @ONLY)
 execute_process(COMMAND sh -c "'${CORVANE_GZIP}' -9n -c changelog > changelog.gz"
   WORKING_DIRECTORY ${dir} COMMAND_ERROR_IS_FATAL ANY)
 install(FILES ${PROJECT_SOURCE_DIR}/cmake/debian/copyright ${dir}/changelog.gz
   DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package}
   PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
   COMPONENT ${component}
   EXCLUDE_FROM_ALL)
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME corvane)
set(CPACK_PACKAGE_VENDOR corvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${CORVANE_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_COMPONENTS_ALL runtime dev tool)
if(CORVANE_BUILD_PYTHON)
  list(APPEND CPACK_COMPONENTS_ALL python)
endif()
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CORVANE_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Dependencies on the system libraries come from dpkg-shlibdeps; it finds
# libcorvane.so.1 (for cvrtool) in the build tree.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_LIBRARY_OUTPUT_DIRECTORY})
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libcorvane1)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
# The shlibs file: a program built against libcorvane.so.1 depends on
# libcorvane1 of at least this version.
# Only packages with a shared library get one.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
# dpkg's ldconfig trigger (lintian: lacks-ldconfig-trigger).
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/cmake/debian/triggers)
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION "components for binary trace log files - shared library
libcorvane.so gives the LogFile2, LogFile and Corvane objects through
COM-compatible interfaces: recording and viewing of trace logs with
write-behind buffering, a background index, jumps by message number and
bookmarks, and reading of six older log formats.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libcorvane-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "libcorvane1 (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_DEV_PACKAGE_SHLIBDEPS OFF)
set(CPACK_DEBIAN_DEV_DESCRIPTION "components for binary trace log files - development files
The header <corvane/corvane.h> with the interfaces, identifiers and the
COM-compatible base, the CMake package (find_package(corvane)), the
pkg-config file corvane.pc and the documentation of the file formats.")

set(CPACK_DEBIAN_TOOL_PACKAGE_NAME cvrtool)
set(CPACK_DEBIAN_TOOL_PACKAGE_SECTION utils)
# dpkg-shlibdeps finds libcorvane.so.1 in the build tree, in no package.
set(CPACK_DEBIAN_TOOL_PACKAGE_DEPENDS "libcorvane1 (>= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_TOOL_DESCRIPTION "look into, convert, index and bookmark binary trace logs
cvrtool prints the summary and the records of a trace log, builds its
index, keeps its bookmarks, converts it between generations, verifies it
and records demo logs. It uses the corvane library.")

if(CORVANE_BUILD_PYTHON)
  set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME python3-corvane)
  set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
  # The module is built for one interpreter version (its file name says so).
  math(EXPR _corvane_python_next "${Python3_VERSION_MINOR} + 1")
  set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS
    "libcorvane1 (>= ${PROJECT_VERSION}), python3-numpy, python3 (>= ${Python3_VERSION_MAJOR}.${Python3_VERSION_MINOR}~), python3 (<< ${Python3_VERSION_MAJOR}.${_corvane_python_next})")
  set(CPACK_DEBIAN_PYTHON_DESCRIPTION "components for binary trace log files - Python module
The module corvane reads and writes trace logs through the corvane
library: iteration over records, the index, jumps by message number,
bookmarks, and batches of records as numpy arrays.")
endif()

include(CPack)
