# Run by CPack after it has made the packages (CPACK_POST_BUILD_SCRIPTS). CPack of CMake 3.25
# writes each -dbgsym package's md5sums with its own staging paths and gives the package no
# documentation. This remakes each as Debian's own tools make one: md5sums of the package's
# paths, its documentation directory a link to that of the package it belongs to (on whose
# version it depends), the .debug files not executable.
foreach(ddeb IN LISTS CPACK_PACKAGE_FILES)
  if(NOT ddeb MATCHES "\\.ddeb$")
    continue()
  endif()
  # DEB-DEFAULT names: <package>-dbgsym_<version>_<arch>.ddeb beside <package>_<version>_<arch>.deb.
  string(REGEX REPLACE "-dbgsym(_[^/]*)\\.ddeb$" "\\1.deb" deb ${ddeb})
  execute_process(COMMAND dpkg-deb --field ${deb} Package
    OUTPUT_VARIABLE package OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)

  set(dir ${ddeb}.tree)
  file(REMOVE_RECURSE ${dir})
  execute_process(COMMAND dpkg-deb --raw-extract ${ddeb} ${dir} COMMAND_ERROR_IS_FATAL ANY)
  file(GLOB_RECURSE debug_files ${dir}/usr/lib/debug/*.debug)
  file(CHMOD ${debug_files} PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
  file(MAKE_DIRECTORY ${dir}/usr/share/doc)
  file(CREATE_LINK ${package} ${dir}/usr/share/doc/${package}-dbgsym SYMBOLIC)
  execute_process(COMMAND find usr -type f -exec md5sum {} + COMMAND sort -k 2
    WORKING_DIRECTORY ${dir} OUTPUT_FILE ${dir}/DEBIAN/md5sums COMMAND_ERROR_IS_FATAL ANY)
  execute_process(COMMAND dpkg-deb --root-owner-group --build ${dir} ${ddeb}
    OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE_RECURSE ${dir})
endforeach()
