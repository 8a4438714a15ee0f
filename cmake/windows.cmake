# Windows build of the module: widl, the proxy/stub code, exports, resources,
# system libraries, and the Wine environment in which the tests run.
#
# Included by the top-level CMakeLists.txt when WIN32, after corvane_objects
# exists and before the source rooms are added.

if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(CORVANE_WIDL_TARGET --win64)
  set(CORVANE_STDOLE_DIR /usr/lib/x86_64-linux-gnu/wine/x86_64-windows)
  set(CORVANE_WINE_ARCH win64)
else()
  set(CORVANE_WIDL_TARGET --win32)
  set(CORVANE_STDOLE_DIR /usr/lib/i386-linux-gnu/wine/i386-windows)
  set(CORVANE_WINE_ARCH win32)
endif()

# widl of the cross toolchain's triple (x86_64-w64-mingw32-widl, ...), else a
# plain widl; both produce either architecture with --win32/--win64.
string(REGEX REPLACE "-g\\+\\+(-posix|-win32)?$" "" _corvane_triple "${CMAKE_CXX_COMPILER}")
get_filename_component(_corvane_triple "${_corvane_triple}" NAME)
find_program(CORVANE_WIDL NAMES ${_corvane_triple}-widl widl REQUIRED)
# Debian's MinGW ships no .idl files; Wine's development package has them.
find_path(CORVANE_WIDL_INCLUDE_DIR unknwn.idl
  PATHS /usr/include/wine/wine/windows /usr/include/wine/windows
  NO_CMAKE_FIND_ROOT_PATH REQUIRED)

# ---- widl: header, identifiers, proxy/stub, dlldata and type library. ----
# The directory and header names come from cmake/interface_header.cmake.
set(CORVANE_IDL_IID ${CORVANE_GENERATED_DIR}/corvane_i.c)
set(CORVANE_IDL_PROXY ${CORVANE_GENERATED_DIR}/corvane_p.c)
set(CORVANE_IDL_DLLDATA ${CORVANE_GENERATED_DIR}/dlldata.c)
set(CORVANE_TLB ${CORVANE_GENERATED_DIR}/corvane.tlb)

add_custom_command(
  OUTPUT ${CORVANE_IDL_HEADER} ${CORVANE_IDL_IID} ${CORVANE_IDL_PROXY} ${CORVANE_IDL_DLLDATA}
         ${CORVANE_TLB}
  COMMAND ${CORVANE_WIDL} -Oif ${CORVANE_WIDL_TARGET}
          -I${CORVANE_WIDL_INCLUDE_DIR} -L${CORVANE_STDOLE_DIR}
          -h -H corvane_idl.h -u -p -t -o corvane ${CORVANE_IDL}
  COMMAND ${CORVANE_WIDL} --dlldata-only -o dlldata.c corvane
  WORKING_DIRECTORY ${CORVANE_GENERATED_DIR}
  MAIN_DEPENDENCY ${CORVANE_IDL}
  COMMENT "widl: corvane.idl"
  VERBATIM)
# The one owner of the widl outputs: everything that needs them depends on
# this target, so that a parallel build runs widl once.
add_custom_target(corvane_idl DEPENDS
  ${CORVANE_IDL_HEADER} ${CORVANE_IDL_IID} ${CORVANE_IDL_PROXY} ${CORVANE_IDL_DLLDATA}
  ${CORVANE_TLB})

# ---- Proxy/stub code: a static library of the generated C sources. ----
# It serves the module and the static core alike (the platform layer's
# com_server functions call into it), so it is linked through
# corvane_platform_libs. With ENTRY_PREFIX=Prx its entry points become
# PrxDllMain, PrxDllGetClassObject, ... for the module's own to hand off to.
set(CORVANE_WIN32_DIR ${PROJECT_SOURCE_DIR}/src/platform/win32)
add_library(corvane_proxy STATIC
  ${CORVANE_IDL_PROXY}
  ${CORVANE_IDL_DLLDATA}
  ${CORVANE_WIN32_DIR}/proxy_guids.c)
add_dependencies(corvane_proxy corvane_idl)
target_include_directories(corvane_proxy PRIVATE ${CORVANE_GENERATED_DIR}
  ${CORVANE_GENERATED_INCLUDE_DIR} ${PROJECT_SOURCE_DIR}/include)
target_compile_definitions(corvane_proxy PRIVATE REGISTER_PROXY_DLL ENTRY_PREFIX=Prx)
# MinGW's unknwn.h declares the IUnknown proxy functions for C++ only.
target_compile_options(corvane_proxy PRIVATE
  "SHELL:-include ${CORVANE_WIN32_DIR}/proxy_declarations.h" -w)
set_source_files_properties(${CORVANE_IDL_PROXY} ${CORVANE_IDL_DLLDATA}
  PROPERTIES GENERATED TRUE LANGUAGE C)

# The type library resource, linked (through corvane_platform_libs) into the
# module and into every program that links the static core.
add_library(corvane_typelib_resource OBJECT ${CORVANE_WIN32_DIR}/type_library.rc)
add_dependencies(corvane_typelib_resource corvane_idl)
# windres finds corvane.tlb through the include path.
target_include_directories(corvane_typelib_resource PRIVATE ${CORVANE_GENERATED_DIR})
set_source_files_properties(${CORVANE_WIN32_DIR}/type_library.rc
  PROPERTIES OBJECT_DEPENDS ${CORVANE_TLB})

# corvane_finish_windows_module(target)
#
# Makes `target` the in-process server corvane.dll: exports and version
# resource; through corvane_platform_libs the type library resource, the
# proxy/stub code, the system libraries and the static language runtimes.
function(corvane_finish_windows_module target)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    # The module exports undecorated names (--kill-at), but a 32-bit client
    # refers to the decorated stdcall names (_DllGetClassObject@12), which
    # ole32's import library also offers: the import library must carry them,
    # pointing at the undecorated exports, or such a client silently binds to
    # ole32. dlltool -k makes that import library in place of the linker's.
    target_sources(${target} PRIVATE ${CORVANE_WIN32_DIR}/corvane-x86.def)
    target_link_options(${target} PRIVATE -Wl,--kill-at)
    find_program(CORVANE_DLLTOOL NAMES ${_corvane_triple}-dlltool dlltool REQUIRED)
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND ${CORVANE_DLLTOOL} -k -d ${CORVANE_WIN32_DIR}/corvane-x86.def
              -D $<TARGET_FILE_NAME:${target}> -l $<TARGET_LINKER_FILE:${target}>
      VERBATIM)
  else()
    target_sources(${target} PRIVATE ${CORVANE_WIN32_DIR}/corvane.def)
  endif()
  target_sources(${target} PRIVATE ${CORVANE_WIN32_DIR}/corvane.rc)
  add_dependencies(${target} corvane_idl)
  target_include_directories(${target} PUBLIC ${CORVANE_GENERATED_INCLUDE_DIR})
  target_link_libraries(${target} PRIVATE corvane_platform_libs)
  set_target_properties(${target} PROPERTIES PREFIX "")
endfunction()

# ---- Tests under Wine. ----
# Every test runs in one prefix of this build directory. A setup fixture
# starts a persistent wineserver and initialises the prefix with all output in
# a log file; a cleanup fixture stops the server. Without them the background
# processes of the first Wine call would hold CTest's output pipe open.
set(CORVANE_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
set(CORVANE_WINE_LOADER ${CMAKE_CROSSCOMPILING_EMULATOR})
if(NOT CORVANE_WINE_LOADER)
  set(CORVANE_WINE_LOADER wine)
endif()
# The server binary itself: Debian's wineserver wrapper forces "-p0".
find_program(CORVANE_WINESERVER NAMES wineserver64 wineserver32 wineserver
  PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
set(CORVANE_WINE_ENVIRONMENT
  "WINEPREFIX=${CORVANE_WINEPREFIX}"
  "WINEARCH=${CORVANE_WINE_ARCH}"
  "WINEDEBUG=-all"
  "WINEDLLOVERRIDES=mscoree,mshtml=")

if(CORVANE_BUILD_TESTS)
  set(_corvane_fixture ${PROJECT_SOURCE_DIR}/cmake/wine_fixture.sh)
  add_test(NAME wine_prefix_setup
    COMMAND sh ${_corvane_fixture} setup ${CORVANE_WINE_LOADER} ${CORVANE_WINESERVER}
            ${CMAKE_BINARY_DIR}/wine_fixture.log)
  add_test(NAME wine_prefix_cleanup
    COMMAND sh ${_corvane_fixture} cleanup ${CORVANE_WINE_LOADER} ${CORVANE_WINESERVER}
            ${CMAKE_BINARY_DIR}/wine_fixture.log)
  set_tests_properties(wine_prefix_setup PROPERTIES
    FIXTURES_SETUP corvane_wine ENVIRONMENT "${CORVANE_WINE_ENVIRONMENT}" TIMEOUT 180)
  set_tests_properties(wine_prefix_cleanup PROPERTIES
    FIXTURES_CLEANUP corvane_wine ENVIRONMENT "${CORVANE_WINE_ENVIRONMENT}" TIMEOUT 60)
endif()

# corvane_windows_test(name): the Wine environment and the prefix fixture for
# one test (called by corvane_test() and by the Windows-only tests). All of
# them share the prefix's registry, where some register and unregister the
# classes while others rely on the registration: under "ctest -j" they still
# run one at a time.
function(corvane_windows_test name)
  set_property(TEST ${name} APPEND PROPERTY ENVIRONMENT ${CORVANE_WINE_ENVIRONMENT})
  set_property(TEST ${name} APPEND PROPERTY FIXTURES_REQUIRED corvane_wine)
  set_property(TEST ${name} APPEND PROPERTY RESOURCE_LOCK corvane_wine_registry)
endfunction()

