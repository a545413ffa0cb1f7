# tests/layers.cmake: fails when a source file includes from a layer above its
# own, or a front end includes another front end.
#   cmake -DROOT=<repository> "-DLAYERS=low;...;high" "-DFRONTENDS=a;b" -P layers.cmake
# LAYERS lists the library folders from the bottom up; FRONTENDS the folders
# of the programs, which sit above every layer and beside each other. Every
# folder holding sources must be one of them.
set(problems "")
set(folders ${LAYERS} ${FRONTENDS})
list(LENGTH LAYERS top)

file(GLOB entries RELATIVE ${ROOT} ${ROOT}/*)
foreach(entry ${entries})
  if(IS_DIRECTORY ${ROOT}/${entry} AND NOT entry MATCHES "^(\\.|build)"
     AND NOT entry MATCHES "^(tests|fuzz|bench|docs|examples|scripts|r)$")
    file(GLOB_RECURSE sources ${ROOT}/${entry}/*.h ${ROOT}/${entry}/*.cc)
    list(FIND folders ${entry} known)
    if(sources AND known LESS 0)
      list(APPEND problems "folder ${entry}/ is in no layer")
    endif()
  endif()
endforeach()

foreach(folder ${folders})
  list(FIND LAYERS ${folder} level)
  if(level LESS 0)
    set(level ${top})
  endif()
  file(GLOB_RECURSE sources RELATIVE ${ROOT} ${ROOT}/${folder}/*.h ${ROOT}/${folder}/*.cc)
  foreach(source ${sources})
    file(STRINGS ${ROOT}/${source} includes REGEX "^[ \t]*#[ \t]*include[ \t]+\"")
    foreach(line ${includes})
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]+\"([^/\"]+)/.*" "\\1" to "${line}")
      if(to STREQUAL line OR to STREQUAL folder)
        continue()
      endif()
      list(FIND LAYERS ${to} tolevel)
      list(FIND FRONTENDS ${to} tofront)
      if(tofront GREATER_EQUAL 0)
        list(APPEND problems "${source} includes the front end ${to}/")
      elseif(tolevel GREATER_EQUAL level)
        list(APPEND problems "${source} includes ${to}/, which is not below ${folder}/")
      endif()
    endforeach()
  endforeach()
endforeach()

if(problems)
  list(JOIN problems "\n" text)
  message(FATAL_ERROR "layers:\n${text}")
endif()
message(STATUS "layers: every include runs downward")
