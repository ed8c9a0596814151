# What `cmake --install` puts where, in four components that become the four Debian packages:
#   runtime  the module (libPluginPandel.so.1.0.0.3, its SONAME link and the link hosts load),
#            README with its docs/ pages, LICENSE, notices and CHANGELOG under the doc folder
#   dev      the public headers, the CMake package and the pkg-config file
#   tools    pandel-host, devcfg-server, the stand-in agent and imaging libraries, the service
#            description (WSDL and schema)
#   doctor   pandel-doctor, the operator's check of a terminal, and its manual page
# A tool added later installs itself from its own CMakeLists.txt with
#   install(TARGETS <tool> RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)
# and brings its manual page as tools/<tool>/<tool>.1. pandel-doctor, written in parallel with
# this file, is installed by pandel_install_tools below: it needs no rule of its own.
include_guard(GLOBAL)
include(CMakePackageConfigHelpers)

# Stand-ins for the agent's and the imaging vendor's libraries: found by file name from
# LD_LIBRARY_PATH, never by the dynamic linker's default search.
set(PANDEL_INSTALL_STANDIN_DIR ${CMAKE_INSTALL_LIBDIR}/pluginpandel)
set(PANDEL_INSTALL_DATA_DIR ${CMAKE_INSTALL_DATADIR}/pluginpandel)
set(PANDEL_INSTALL_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/pluginpandel)
set(PANDEL_INSTALL_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/PluginPandel)

function(pandel_install_module)
  # Hosts load the module by its unversioned file name: the link belongs to the runtime.
  install(TARGETS PluginPandel EXPORT PluginPandelTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT runtime
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/pandel
    DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT dev PATTERN "*.in" EXCLUDE)
  install(FILES ${PROJECT_BINARY_DIR}/include/pandel/version.h
    DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/pandel COMPONENT dev)

  install(EXPORT PluginPandelTargets NAMESPACE PluginPandel::
    DESTINATION ${PANDEL_INSTALL_CMAKE_DIR} COMPONENT dev)
  configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/PluginPandelConfig.cmake.in
    ${PROJECT_BINARY_DIR}/PluginPandelConfig.cmake
    INSTALL_DESTINATION ${PANDEL_INSTALL_CMAKE_DIR})
  # 1.0.0.3 satisfies a request for any 1.x up to itself.
  write_basic_package_version_file(${PROJECT_BINARY_DIR}/PluginPandelConfigVersion.cmake
    VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
  install(FILES ${PROJECT_BINARY_DIR}/PluginPandelConfig.cmake
    ${PROJECT_BINARY_DIR}/PluginPandelConfigVersion.cmake
    DESTINATION ${PANDEL_INSTALL_CMAKE_DIR} COMPONENT dev)

  configure_file(${PROJECT_SOURCE_DIR}/cmake/pluginpandel.pc.in
    ${PROJECT_BINARY_DIR}/pluginpandel.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/pluginpandel.pc
    DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)

  install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE
    ${PROJECT_SOURCE_DIR}/THIRD-PARTY-NOTICES.md ${PROJECT_SOURCE_DIR}/CHANGELOG.md
    DESTINATION ${PANDEL_INSTALL_DOC_DIR} COMPONENT runtime)
  # The pages README links to, at the same relative place.
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs DESTINATION ${PANDEL_INSTALL_DOC_DIR}
    COMPONENT runtime FILES_MATCHING PATTERN "*.md")
endfunction()

# A tool's manual page (a path under the source tree), compressed as Debian wants it.
function(pandel_install_man_page page component)
  get_filename_component(name ${page} NAME)
  set(compressed ${PROJECT_BINARY_DIR}/man/${name}.gz)
  file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/man)
  execute_process(COMMAND gzip -9nc ${PROJECT_SOURCE_DIR}/${page}
    OUTPUT_FILE ${compressed} COMMAND_ERROR_IS_FATAL ANY)
  install(FILES ${compressed} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT ${component})
endfunction()

function(pandel_install_tools)
  install(TARGETS pandel-host devcfg-server RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
    COMPONENT tools)
  # The operator's tool is a package of its own, apart from the lab tools.
  set(doctor_page tools/pandel-doctor/pandel-doctor.1)
  if(TARGET pandel-doctor)
    install(TARGETS pandel-doctor RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT doctor)
    pandel_install_man_page(${doctor_page} doctor)
  endif()
  # Each other tool's manual page, tools/<tool>/<tool>.1.
  file(GLOB pages RELATIVE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tools/*/*.1)
  list(REMOVE_ITEM pages ${doctor_page})
  foreach(page ${pages})
    pandel_install_man_page(${page} tools)
  endforeach()
  # pandel-host finds its catching library there too (tools/pandel-host).
  install(TARGETS XPePandelClient LibUpload pandel-host-catch
    LIBRARY DESTINATION ${PANDEL_INSTALL_STANDIN_DIR} COMPONENT tools
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)

  # The service description as server implementers get it.
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/report/wsdl/
    DESTINATION ${PANDEL_INSTALL_DATA_DIR} COMPONENT tools)
endfunction()
