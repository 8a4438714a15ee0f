# cmake -DIN=<widl header> -DOUT=<header> -P idl_header_fixup.cmake
#
# widl writes its header for the Windows SDK: it includes <windows.h>, <ole2.h>
# and <unknwn.h> and declares interfaces with the SDK's MIDL macros. Elsewhere
# the declarations rest on <corvane/compat.h>, so the SDK includes make way for
# it and the macros become the plain C++ they stand for. Identifiers stay
# DEFINE_GUID lines: <corvane/corvane.h> defines that macro around its include.
file(READ "${IN}" text)
string(REPLACE "#ifndef COM_NO_WINDOWS_H\n#include <windows.h>\n#include <ole2.h>\n#endif\n" ""
       text "${text}")
string(REPLACE "#include <unknwn.h>" "#include <corvane/compat.h>" text "${text}")
string(REGEX REPLACE "MIDL_INTERFACE\\(\"[^\"]*\"\\)\n" "struct " text "${text}")
string(REGEX REPLACE "DECLSPEC_UUID\\(\"[^\"]*\"\\) " "" text "${text}")
string(REGEX REPLACE "([\n{ ])interface ([A-Za-z_][A-Za-z0-9_]*)" "\\1struct \\2" text "${text}")
# A widl whose output differs from the forms above must not slip through.
foreach(left IN ITEMS "<windows.h>" "<unknwn.h>" "MIDL_INTERFACE" "DECLSPEC_UUID")
  string(FIND "${text}" "${left}" at)
  if(NOT at EQUAL -1)
    message(FATAL_ERROR "${IN}: ${left} left after the rewrite")
  endif()
endforeach()
file(WRITE "${OUT}" "${text}")
