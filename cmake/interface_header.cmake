# The interface header generated from idl/corvane.idl, on every platform.
#
# <corvane/corvane.h> includes <corvane/corvane_idl.h>, which widl writes into
# the build tree. On Windows, cmake/windows.cmake runs widl once for the header
# together with the type library and the proxy/stub code; elsewhere widl
# writes the header alone, against the few system declarations of
# idl/posix/unknwn.idl, and idl_header_fixup.cmake puts <corvane/compat.h> in
# place of the Windows SDK. Either way one custom command, owned by the custom
# target corvane_idl, makes the header, so that a parallel build runs widl once.
#
# Included by the top-level CMakeLists.txt after corvane_objects exists and
# before the source rooms are added.

set(CORVANE_GENERATED_INCLUDE_DIR ${CMAKE_BINARY_DIR}/generated)
set(CORVANE_GENERATED_DIR ${CORVANE_GENERATED_INCLUDE_DIR}/corvane)
set(CORVANE_IDL ${PROJECT_SOURCE_DIR}/idl/corvane.idl)
set(CORVANE_IDL_HEADER ${CORVANE_GENERATED_DIR}/corvane_idl.h)
file(MAKE_DIRECTORY ${CORVANE_GENERATED_DIR})

if(NOT WIN32)
  find_program(CORVANE_WIDL NAMES widl x86_64-w64-mingw32-widl i686-w64-mingw32-widl REQUIRED)
  set(_corvane_posix_idl ${PROJECT_SOURCE_DIR}/idl/posix/unknwn.idl)
  set(_corvane_fixup ${PROJECT_SOURCE_DIR}/cmake/idl_header_fixup.cmake)
  add_custom_command(
    OUTPUT ${CORVANE_IDL_HEADER}
    BYPRODUCTS ${CORVANE_GENERATED_DIR}/corvane_idl_widl.h
    COMMAND ${CORVANE_WIDL} -I${PROJECT_SOURCE_DIR}/idl/posix
            -h -H corvane_idl_widl.h -o corvane ${CORVANE_IDL}
    COMMAND ${CMAKE_COMMAND} -DIN=corvane_idl_widl.h -DOUT=${CORVANE_IDL_HEADER}
            -P ${_corvane_fixup}
    WORKING_DIRECTORY ${CORVANE_GENERATED_DIR}
    MAIN_DEPENDENCY ${CORVANE_IDL}
    DEPENDS ${_corvane_posix_idl} ${_corvane_fixup}
    COMMENT "widl: corvane.idl (header)"
    VERBATIM)
  add_custom_target(corvane_idl DEPENDS ${CORVANE_IDL_HEADER})
endif()

# Every target of the build (the library, the tools, the tests, the benches,
# the fuzz targets) sees the generated directory.
include_directories(${CORVANE_GENERATED_INCLUDE_DIR})
target_include_directories(corvane_objects PUBLIC ${CORVANE_GENERATED_INCLUDE_DIR})
add_dependencies(corvane_objects corvane_idl)

# Targets created after this point may include <corvane/corvane.h> without
# linking the library: at the end of the configuration, make every compiling
# target wait for the widl outputs.
function(_corvane_depend_on_idl dir)
  get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  foreach(t IN LISTS targets)
    get_target_property(type ${t} TYPE)
    if(type MATCHES "^(EXECUTABLE|STATIC_LIBRARY|SHARED_LIBRARY|MODULE_LIBRARY|OBJECT_LIBRARY)$"
       AND NOT t STREQUAL "corvane_proxy")
      add_dependencies(${t} corvane_idl)
    endif()
  endforeach()
  get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  foreach(d IN LISTS subdirs)
    _corvane_depend_on_idl(${d})
  endforeach()
endfunction()
cmake_language(DEFER DIRECTORY ${PROJECT_SOURCE_DIR}
  CALL _corvane_depend_on_idl ${PROJECT_SOURCE_DIR})
