# The four Debian packages, made by CPack from the install components (PandelInstall.cmake):
#   pluginpandel (runtime), pluginpandel-dev (dev), pluginpandel-tools (tools),
#   pluginpandel-doctor (doctor); and the -dbgsym packages of those with binaries.
# Built by scripts/package, which configures with CMAKE_INSTALL_PREFIX=/usr.
include_guard(GLOBAL)

set(PANDEL_DEB_DIR ${PROJECT_SOURCE_DIR}/packaging/debian)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pluginpandel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "PluginPandel maintainers <maintainers@pluginpandel.example>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# The binaries leave their debug information in a <package>-dbgsym package, found by build ID
# under /usr/lib/debug/.build-id/; CPack strips them itself when it splits it off, so the install
# must not strip first. PandelDbgsym.cmake finishes those packages as Debian's tools make them.
set(CPACK_STRIP_FILES OFF)
set(CPACK_DEBIAN_DEBUGINFO_PACKAGE ON)
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/PandelDbgsym.cmake)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime dev tools doctor)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "")
# Depends from the binaries (dpkg-shlibdeps); the tools need the module, which is found in this
# build, and get their dependency on it from the component's own below.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR}/plugin)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)

# pandel_deb_multi_arch(<component> same|foreign): the package's Multi-Arch field. CPack of
# CMake 3.25 has no variable for it; it writes the Section field's value as given, so the field
# goes on the line after Section's.
function(pandel_deb_multi_arch component value)
  string(TOUPPER ${component} upper)
  set(CPACK_DEBIAN_${upper}_PACKAGE_SECTION
    "${CPACK_DEBIAN_${upper}_PACKAGE_SECTION}\nMulti-Arch: ${value}" PARENT_SCOPE)
endfunction()

# The SOAP runtime is compiled into the module and the tools from the gsoap source package in the
# source cache: Built-Using names that source's exact version, as Debian wants for code linked in
# from another source package (in the field after Section's, as Multi-Arch is).
file(GLOB gsoap_dsc ${PANDEL_SOURCE_CACHE}/gsoap_*.dsc)
list(GET gsoap_dsc 0 gsoap_dsc)
file(STRINGS ${gsoap_dsc} gsoap_version REGEX "^Version: ")
string(REGEX REPLACE "^Version: " "" gsoap_version "${gsoap_version}")
function(pandel_deb_built_using component)
  string(TOUPPER ${component} upper)
  set(CPACK_DEBIAN_${upper}_PACKAGE_SECTION
    "${CPACK_DEBIAN_${upper}_PACKAGE_SECTION}\nBuilt-Using: gsoap (= ${gsoap_version})" PARENT_SCOPE)
endfunction()

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME pluginpandel)
# The module loads libxml2 at its first XML call, where dpkg-shlibdeps cannot see it.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS "libxml2 (>= ${LIBXML2_VERSION_STRING})")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION "imaging plug-in module of a device-management agent
The agent host loads libPluginPandel.so and drives it through seven entry
points. On a Download command the module checks the task, has the imaging
client library back up or restore the terminal's disk image and reports the
outcome to the management server in SOAP requests.

The package makes the machine's fixed places under /var/lib/pandel (the log
directory C/, the registry and the named locks); purging it removes them.")
# An operator checks the terminal with pandel-doctor.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_RECOMMENDS pluginpandel-doctor)
# Every file is in the multiarch library directory or the same on every architecture (the
# documents, the lintian overrides), and the maintainer scripts let another architecture's
# package share the fixed places: installable beside itself.
pandel_deb_multi_arch(runtime same)
pandel_deb_built_using(runtime)
# The ldconfig trigger is in the control files: CPack's generated maintainer scripts would call
# ldconfig directly, and ours make and remove the fixed places.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA
  ${PANDEL_DEB_DIR}/postinst ${PANDEL_DEB_DIR}/postrm ${PANDEL_DEB_DIR}/triggers)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# The module's symbols file, made while packaging from the dynamic symbol table of the library
# being packaged (PandelDebSymbols.cmake), so that it cannot drift from what the library exports.
set(CPACK_PANDEL_MODULE ${CMAKE_INSTALL_LIBDIR}/libPluginPandel.so)
set(CPACK_PANDEL_SYMBOLS_TEMPLATE ${PANDEL_DEB_DIR}/pluginpandel.symbols)
set(CPACK_PANDEL_SYMBOLS ${PROJECT_BINARY_DIR}/packaging/pluginpandel/symbols)
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/PandelDebSymbols.cmake)
list(APPEND CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${CPACK_PANDEL_SYMBOLS})

set(CPACK_DEBIAN_DEV_PACKAGE_NAME pluginpandel-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_COMPONENT_DEV_DEPENDS runtime)
set(CPACK_DEBIAN_DEV_DESCRIPTION "imaging plug-in module of a device-management agent - development
Public headers (include/pandel/: the entry points, the host's command
interfaces and ErrObj), the CMake package PluginPandel and the pkg-config
file pluginpandel.pc, for hosts that load the module and catch its ErrObj.")
# The headers are the same on every architecture; the CMake package and pluginpandel.pc are in
# the multiarch library directory.
pandel_deb_multi_arch(dev same)

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME pluginpandel-tools)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION devel)
set(CPACK_COMPONENT_TOOLS_DEPENDS runtime)
set(CPACK_DEBIAN_TOOLS_DESCRIPTION "imaging plug-in module of a device-management agent - lab tools
pandel-host plays the agent host and drives the module's entry points;
devcfg-server is a stand-in device-configuration service on loopback. The
stand-in imaging and agent libraries (under the library directory's
pluginpandel/) and the service's WSDL and schema are included for lab use.")
pandel_deb_multi_arch(tools foreign)
pandel_deb_built_using(tools)

set(CPACK_DEBIAN_DOCTOR_PACKAGE_NAME pluginpandel-doctor)
set(CPACK_DEBIAN_DOCTOR_PACKAGE_SECTION admin)
set(CPACK_COMPONENT_DOCTOR_DEPENDS runtime)
set(CPACK_DEBIAN_DOCTOR_DESCRIPTION "imaging plug-in module of a device-management agent - terminal check
pandel-doctor checks, one line each, what a Download needs on this terminal:
the agent's Conf/agent.xml and the service URL a report would use, the proxy
file, the local addresses, the log place, the imaging library and its
functions, the device identity and adapters, and the named locks. Each line
that is not ok says the fix. With --probe it also sends one reachability
document to the management server. Every answer comes from the module's own
code.")
pandel_deb_multi_arch(doctor foreign)
pandel_deb_built_using(doctor)

# Each package's own copyright and Debian changelog, only in the packages (EXCLUDE_FROM_ALL keeps
# them out of a plain `cmake --install`).
foreach(component ${CPACK_COMPONENTS_ALL})
  string(TOUPPER ${component} upper)
  set(PANDEL_DEB_PACKAGE ${CPACK_DEBIAN_${upper}_PACKAGE_NAME})
  set(changelog ${PROJECT_BINARY_DIR}/packaging/${PANDEL_DEB_PACKAGE}/changelog)
  configure_file(${PANDEL_DEB_DIR}/changelog.in ${changelog} @ONLY)
  execute_process(COMMAND gzip -9nf ${changelog} COMMAND_ERROR_IS_FATAL ANY)
  install(FILES ${PANDEL_DEB_DIR}/copyright ${changelog}.gz
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${PANDEL_DEB_PACKAGE}
    COMPONENT ${component} EXCLUDE_FROM_ALL)
  if(EXISTS ${PANDEL_DEB_DIR}/${PANDEL_DEB_PACKAGE}.lintian-overrides)
    install(FILES ${PANDEL_DEB_DIR}/${PANDEL_DEB_PACKAGE}.lintian-overrides
      DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME ${PANDEL_DEB_PACKAGE}
      COMPONENT ${component} EXCLUDE_FROM_ALL)
  endif()
endforeach()

include(CPack)
