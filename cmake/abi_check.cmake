# cmake -DNM=<nm> -DREADELF=<readelf> -DLIBRARY=<libcorvane.so> -DEXPORTS=<exports.txt>
#       -DSONAME=<expected SONAME> -P abi_check.cmake
#
# The library's ABI as a client's dynamic linker sees it: the SONAME, and the
# names of "nm -D --defined-only" exactly those of the export list (a name
# missing breaks clients, a name too many becomes ABI by accident).
file(STRINGS "${EXPORTS}" wanted REGEX "^[A-Za-z_]")
list(SORT wanted)

execute_process(COMMAND "${NM}" -D --defined-only "${LIBRARY}"
  OUTPUT_VARIABLE out RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${NM} failed on ${LIBRARY}: ${rc}")
endif()
string(REPLACE "\n" ";" lines "${out}")
set(got "")
foreach(line IN LISTS lines)
  # "<address> <type> <name>[@@VERSION]"; the version node itself is an
  # absolute symbol (type A) and no export.
  if(line MATCHES "^[0-9a-fA-F]* +([A-Za-z]) +([^@ ]+)")
    if(NOT CMAKE_MATCH_1 STREQUAL "A")
      list(APPEND got "${CMAKE_MATCH_2}")
    endif()
  endif()
endforeach()
list(SORT got)

set(extra ${got})
list(REMOVE_ITEM extra ${wanted})
set(missing ${wanted})
list(REMOVE_ITEM missing ${got})
set(failed FALSE)
if(extra)
  string(REPLACE ";" " " extra "${extra}")
  message(SEND_ERROR "exported but not in ${EXPORTS}: ${extra}")
  set(failed TRUE)
endif()
if(missing)
  string(REPLACE ";" " " missing "${missing}")
  message(SEND_ERROR "in ${EXPORTS} but not exported: ${missing}")
  set(failed TRUE)
endif()

execute_process(COMMAND "${READELF}" -d "${LIBRARY}" OUTPUT_VARIABLE dynamic RESULT_VARIABLE rc)
if(NOT rc EQUAL 0 OR NOT dynamic MATCHES "\\(SONAME\\) +Library soname: \\[([^]]*)\\]")
  message(SEND_ERROR "${LIBRARY} has no SONAME")
  set(failed TRUE)
elseif(NOT CMAKE_MATCH_1 STREQUAL SONAME)
  message(SEND_ERROR "SONAME is ${CMAKE_MATCH_1}, expected ${SONAME}")
  set(failed TRUE)
endif()
if(NOT failed)
  list(LENGTH got n)
  message("${n} exports, SONAME ${SONAME}: as listed")
endif()
