# Reads every #include "..." of the tool's sources and of the demo service and
# fails on an edge that breaks the layering:
#   text < support < http < resolve < download < app  (a folder includes only
#   its own and lower folders);
#   a front end (app/qt, app/win32, app/cli) includes no other front end, and
#   the portable part of app includes none;
#   the demo service includes nothing of the tool.
# Usage: cmake -DROOT=<source dir> -P include_layers.cmake
set(layers text support http resolve download app)
set(front_ends qt win32 cli)
set(faults "")

file(GLOB_RECURSE sources RELATIVE "${ROOT}" "${ROOT}/src/*.h" "${ROOT}/src/*.cpp"
     "${ROOT}/tools/sorrel-sim/*.h" "${ROOT}/tools/sorrel-sim/*.cpp")
foreach(source IN LISTS sources)
  file(STRINGS "${ROOT}/${source}" lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
  if(source MATCHES "^src/([a-z_]+)/")
    set(folder "${CMAKE_MATCH_1}")
    list(FIND layers "${folder}" own)
    set(front "")
    if(source MATCHES "^src/app/([a-z0-9_]+)/")
      set(front "${CMAKE_MATCH_1}")
    endif()
  else()
    set(folder sim)
  endif()
  foreach(line IN LISTS lines)
    if(NOT line MATCHES "\"([^\"]+)\"")
      continue()
    endif()
    set(target "${CMAKE_MATCH_1}")
    if(NOT target MATCHES "^([a-z_]+)/")
      continue()
    endif()
    list(FIND layers "${CMAKE_MATCH_1}" theirs)
    if(theirs LESS 0)
      continue()
    endif()
    if(folder STREQUAL "sim")
      list(APPEND faults "${source}: the demo service includes the tool's ${target}")
    elseif(theirs GREATER own)
      list(APPEND faults "${source}: ${folder} includes the higher ${target}")
    elseif(target MATCHES "^app/([a-z0-9_]+)/")
      list(FIND front_ends "${CMAKE_MATCH_1}" isFront)
      if(isFront GREATER_EQUAL 0 AND NOT CMAKE_MATCH_1 STREQUAL front)
        list(APPEND faults "${source}: includes another front end's ${target}")
      endif()
    endif()
  endforeach()
endforeach()

if(faults)
  list(JOIN faults "\n" text)
  message(FATAL_ERROR "include edges that run the wrong way:\n${text}")
endif()
list(LENGTH sources count)
message(STATUS "include layers: ${count} files, no edge the wrong way")
