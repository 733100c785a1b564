# Run by CPack after it has written the packages: takes the ldconfig calls
# (postinst, postrm) out of the sorrel-resolver package, whose only shared
# object is a module that the program loads by its path.
foreach(deb IN LISTS CPACK_PACKAGE_FILES)
  if(NOT deb MATCHES "/sorrel-resolver_[^/]*\\.deb$")
    continue()
  endif()
  set(tree ${deb}.tree)
  file(REMOVE_RECURSE ${tree})
  execute_process(COMMAND dpkg-deb --raw-extract ${deb} ${tree} COMMAND_ERROR_IS_FATAL ANY)
  foreach(script postinst postrm)
    file(STRINGS ${tree}/DEBIAN/${script} lines)
    list(FILTER lines EXCLUDE REGEX "^#!/bin/sh$|^$|^set -e$|^if \\[ \"\\$1\" = \"(configure|remove)\" \\]; then$|^\tldconfig$|^fi$")
    if(lines)
      message(FATAL_ERROR "${script} of ${deb} does more than run ldconfig: ${lines}")
    endif()
    file(REMOVE ${tree}/DEBIAN/${script})
  endforeach()
  execute_process(COMMAND dpkg-deb --root-owner-group --build ${tree} ${deb}
                  OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE_RECURSE ${tree})
endforeach()
