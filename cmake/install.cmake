# Install rules (cmake --install), in three components that the Debian
# packages follow (cmake/packaging.cmake):
#
#   runtime  libcorvane.so.<ABI major>.<minor>.<patch> and its SONAME link
#   dev      headers, the unversioned link, CMake package, corvane.pc, README.md
#            and docs/formats.md
#   tool     cvrtool and its manual page
#
# On Windows the same rules give the layout of the zip that scripts/package.sh
# makes: bin/ (corvane.dll, its type library, cvrtool.exe), lib/ (the import
# library), include/corvane/ and the two documents at the top.
#
# Included by the top-level CMakeLists.txt after every target exists.

include(GNUInstallDirs)

# ---- Linux: the shared library's version, SONAME and exported names. ----
if(NOT WIN32)
  set_target_properties(corvane PROPERTIES
    VERSION ${CORVANE_ABI_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}
    SOVERSION ${CORVANE_ABI_MAJOR})
  # One list of names (cmake/exports.txt) makes the version script; everything
  # else the objects define stays local, whatever its visibility.
  set(_corvane_exports ${PROJECT_SOURCE_DIR}/cmake/exports.txt)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${_corvane_exports})
  file(STRINGS ${_corvane_exports} _corvane_names REGEX "^[A-Za-z_]")
  list(JOIN _corvane_names ";\n    " _corvane_names)
  set(_corvane_version_script ${CMAKE_BINARY_DIR}/corvane.map)
  file(CONFIGURE OUTPUT ${_corvane_version_script}
    CONTENT "CORVANE_${CORVANE_ABI_MAJOR}.0 {\n  global:\n    ${_corvane_names};\n  local: *;\n};\n")
  target_link_options(corvane PRIVATE "LINKER:--version-script=${_corvane_version_script}")
  set_property(TARGET corvane APPEND PROPERTY LINK_DEPENDS ${_corvane_version_script})

  if(CORVANE_BUILD_TESTS)
    find_program(CORVANE_NM NAMES nm ${CMAKE_NM} REQUIRED)
    find_program(CORVANE_READELF NAMES readelf ${CMAKE_READELF} REQUIRED)
    add_test(NAME abi_exports
      COMMAND ${CMAKE_COMMAND} -DNM=${CORVANE_NM} -DREADELF=${CORVANE_READELF}
              -DLIBRARY=$<TARGET_FILE:corvane> -DEXPORTS=${_corvane_exports}
              -DSONAME=$<TARGET_SONAME_FILE_NAME:corvane>
              -P ${PROJECT_SOURCE_DIR}/cmake/abi_check.cmake)
  endif()
endif()

# ---- The library, its headers and the CMake package. ----
target_include_directories(corvane INTERFACE $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)

# Every public header, so that a header added to include/corvane/ is
# installed without another rule. compat.h is the base outside Windows only.
file(GLOB _corvane_headers CONFIGURE_DEPENDS
  ${PROJECT_SOURCE_DIR}/include/corvane/*.h ${PROJECT_SOURCE_DIR}/include/corvane/*.hpp)
if(WIN32)
  list(FILTER _corvane_headers EXCLUDE REGEX "/compat\\.h$")
endif()
install(FILES ${_corvane_headers} ${CORVANE_IDL_HEADER}
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/corvane COMPONENT dev)

if(WIN32)
  install(TARGETS corvane
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev)
  install(FILES ${CORVANE_TLB} DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION . COMPONENT dev)
  install(FILES ${PROJECT_SOURCE_DIR}/docs/formats.md DESTINATION docs COMPONENT dev)
else()
  install(TARGETS corvane EXPORT corvaneTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT dev)

  set(_corvane_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/corvane)
  install(EXPORT corvaneTargets NAMESPACE corvane::
    DESTINATION ${_corvane_cmake_dir} COMPONENT dev)
  include(CMakePackageConfigHelpers)
  configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/corvaneConfig.cmake.in
    ${CMAKE_BINARY_DIR}/corvaneConfig.cmake INSTALL_DESTINATION ${_corvane_cmake_dir})
  # find_package(corvane 1.0) takes 2.0.5: the CMake package follows the
  # product version, and the C interfaces only grow.
  write_basic_package_version_file(${CMAKE_BINARY_DIR}/corvaneConfigVersion.cmake
    VERSION ${PROJECT_VERSION} COMPATIBILITY AnyNewerVersion)
  install(FILES ${CMAKE_BINARY_DIR}/corvaneConfig.cmake ${CMAKE_BINARY_DIR}/corvaneConfigVersion.cmake
    DESTINATION ${_corvane_cmake_dir} COMPONENT dev)

  # corvane.pc names the prefix that is being installed to (cmake --install
  # --prefix, or /usr for the packages), so it is written at install time.
  install(CODE "
    set(CORVANE_PC_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
    set(CORVANE_PC_LIBDIR \"${CMAKE_INSTALL_LIBDIR}\")
    set(CORVANE_PC_INCLUDEDIR \"${CMAKE_INSTALL_INCLUDEDIR}\")
    set(CORVANE_PC_VERSION \"${PROJECT_VERSION}\")
    configure_file(\"${PROJECT_SOURCE_DIR}/cmake/corvane.pc.in\" \"${CMAKE_BINARY_DIR}/corvane.pc\" @ONLY)
    " COMPONENT dev)
  install(FILES ${CMAKE_BINARY_DIR}/corvane.pc
    DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)

  install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/docs/formats.md
    DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT dev)
endif()

# ---- cvrtool and its manual page. ----
if(TARGET cvrtool)
  install(TARGETS cvrtool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tool)
  if(NOT WIN32)
    # Installed compressed (gzip -9n: no name, no time stamp), as Debian does.
    set(_corvane_man ${PROJECT_SOURCE_DIR}/docs/cvrtool.1)
    set(_corvane_man_gz ${CMAKE_BINARY_DIR}/man/cvrtool.1.gz)
    find_program(CORVANE_GZIP gzip REQUIRED)
    add_custom_command(OUTPUT ${_corvane_man_gz}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
      COMMAND sh -c "${CORVANE_GZIP} -9n -c '${_corvane_man}' > '${_corvane_man_gz}'"
      DEPENDS ${_corvane_man}
      COMMENT "gzip: cvrtool.1"
      VERBATIM)
    add_custom_target(corvane_man ALL DEPENDS ${_corvane_man_gz})
    install(FILES ${_corvane_man_gz} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tool)
    if(CORVANE_BUILD_TESTS)
      # The manual names every command and option that cvrtool's help shows.
      add_test(NAME cvrtool_manual
        COMMAND ${CMAKE_COMMAND} -DCVRTOOL=$<TARGET_FILE:cvrtool> -DMANUAL=${_corvane_man}
                -P ${PROJECT_SOURCE_DIR}/cmake/man_check.cmake)
    endif()
  endif()
endif()
