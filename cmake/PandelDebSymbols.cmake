# Run by CPack once the packages' files are staged (CPACK_PRE_BUILD_SCRIPTS): the module's symbols
# file, from the dynamic symbol table of the very library being packaged. The template gives the
# version that brought each symbol: one it lists from an earlier version that the library no
# longer exports fails (a changed ABI needs a new SONAME), and a new one is listed with this
# version. The file must then name exactly the library's exported symbols.
set(module
  ${CPACK_TEMPORARY_DIRECTORY}/runtime${CPACK_PACKAGING_INSTALL_PREFIX}/${CPACK_PANDEL_MODULE})
file(REMOVE ${CPACK_PANDEL_SYMBOLS})
get_filename_component(symbols_dir ${CPACK_PANDEL_SYMBOLS} DIRECTORY)
file(MAKE_DIRECTORY ${symbols_dir})
execute_process(
  COMMAND dpkg-gensymbols -p${CPACK_DEBIAN_RUNTIME_PACKAGE_NAME} -v${CPACK_DEBIAN_PACKAGE_VERSION}
    -I${CPACK_PANDEL_SYMBOLS_TEMPLATE} -e${module} -O${CPACK_PANDEL_SYMBOLS}.new
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "The module lost symbols of ${CPACK_PANDEL_SYMBOLS_TEMPLATE} (above)")
endif()

# A symbol of this version that the library lost stays in dpkg-gensymbols' output: compare.
file(STRINGS ${CPACK_PANDEL_SYMBOLS}.new listed REGEX "^ ")
list(TRANSFORM listed REPLACE "^ ([^@ ]+).*" "\\1")
list(SORT listed)
execute_process(COMMAND nm -D --defined-only --format=posix ${module}
  OUTPUT_VARIABLE exported COMMAND_ERROR_IS_FATAL ANY)
string(REGEX REPLACE "\n$" "" exported "${exported}")
string(REPLACE "\n" ";" exported "${exported}")
list(TRANSFORM exported REPLACE "^([^@ ]+).*" "\\1")
list(SORT exported)
if(NOT listed STREQUAL exported)
  message(FATAL_ERROR "${CPACK_PANDEL_SYMBOLS_TEMPLATE} lists symbols the module does not "
    "export (remove them there); the module exports: ${exported}")
endif()
file(RENAME ${CPACK_PANDEL_SYMBOLS}.new ${CPACK_PANDEL_SYMBOLS})
