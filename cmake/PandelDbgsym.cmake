# Run by CPack after it has made the packages (CPACK_POST_BUILD_SCRIPTS). CPack of CMake 3.25
# writes each -dbgsym package's md5sums with its own staging paths and gives the package no
# documentation. This remakes each as Debian's own tools make one: md5sums of the package's
# paths, its documentation directory a link to that of the package it belongs to (on whose
# version it depends), the .debug files not executable, and Multi-Arch: same beside a package
# installable beside itself.
foreach(ddeb IN LISTS CPACK_PACKAGE_FILES)
  if(NOT ddeb MATCHES "\\.ddeb$")
    continue()
  endif()
  # DEB-DEFAULT names: <package>-dbgsym_<version>_<arch>.ddeb beside <package>_<version>_<arch>.deb.
  string(REGEX REPLACE "-dbgsym(_[^/]*)\\.ddeb$" "\\1.deb" deb ${ddeb})
  execute_process(COMMAND dpkg-deb --field ${deb} Package Multi-Arch
    OUTPUT_VARIABLE fields COMMAND_ERROR_IS_FATAL ANY)
  string(REGEX MATCH "Package: ([^\n]*)" _ "${fields}")
  set(package ${CMAKE_MATCH_1})
  string(REGEX MATCH "Multi-Arch: ([^\n]*)" _ "${fields}")
  set(multi_arch ${CMAKE_MATCH_1})

  set(dir ${ddeb}.tree)
  file(REMOVE_RECURSE ${dir})
  execute_process(COMMAND dpkg-deb --raw-extract ${ddeb} ${dir} COMMAND_ERROR_IS_FATAL ANY)
  file(GLOB_RECURSE debug_files ${dir}/usr/lib/debug/*.debug)
  file(CHMOD ${debug_files} PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
  file(MAKE_DIRECTORY ${dir}/usr/share/doc)
  file(CREATE_LINK ${package} ${dir}/usr/share/doc/${package}-dbgsym SYMBOLIC)
  execute_process(COMMAND find usr -type f -exec md5sum {} + COMMAND sort -k 2
    WORKING_DIRECTORY ${dir} OUTPUT_FILE ${dir}/DEBIAN/md5sums COMMAND_ERROR_IS_FATAL ANY)
  if(multi_arch STREQUAL "same")
    file(READ ${dir}/DEBIAN/control control)
    string(STRIP "${control}" control)
    file(WRITE ${dir}/DEBIAN/control "${control}\nMulti-Arch: same\n")
  endif()
  execute_process(COMMAND dpkg-deb --root-owner-group --build ${dir} ${ddeb}
    OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE_RECURSE ${dir})
endforeach()
