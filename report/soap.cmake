# The SOAP toolkit's runtime and the code that soapcpp2 generates from the device-configuration
# service definition (devcfg_service.h), one side at a time.
include_guard(GLOBAL)

find_program(PANDEL_SOAPCPP2 soapcpp2 REQUIRED)
find_path(PANDEL_GSOAP_IMPORT_DIR wsa.h PATHS /usr/share/gsoap/import NO_DEFAULT_PATH REQUIRED)

# Cache entries: the generating function runs in other directories too.
set(PANDEL_SOAP_SOURCE_DIR ${CMAKE_CURRENT_LIST_DIR} CACHE INTERNAL "")
set(PANDEL_SOAP_BINARY_DIR ${PROJECT_BINARY_DIR}/report/soap CACHE INTERNAL "")

# The runtime, compiled here on every platform from the toolkit's Debian source package, which
# scripts/install-deps fetches once into the source cache (the build is offline from then on).
set(PANDEL_SOURCE_CACHE /opt/pandel-src CACHE PATH
  "Where scripts/install-deps keeps the source packages the build compiles")
file(GLOB runtime_sources ${PANDEL_SOURCE_CACHE}/gsoap-*/gsoap/stdsoap2.cpp)
if(NOT runtime_sources)
  message(FATAL_ERROR "The SOAP runtime's source is not in ${PANDEL_SOURCE_CACHE}: run "
    "scripts/install-deps")
endif()
list(GET runtime_sources 0 runtime_source)
get_filename_component(runtime_dir ${runtime_source} DIRECTORY)

# Compile settings of the runtime and of everything that includes its header, which sizes the
# context by them. Its defaults are for servers with thousands of objects per message: a
# 64 KiB buffer and hash tables of 1999 and 4096 slots, zeroed with every context and swept at
# every message boundary. A report is one small request and one small answer: tables of 19 and
# 32 slots (the toolkit's own small sizes) and an 8 KiB buffer, through which a request still
# leaves in one send and an answer comes in one receive.
# report/soap_defs.h, read first by the runtime's header, gives it a string copy that allows
# overlap (the runtime copies a duplicate id onto itself). No single allocation is larger than
# 1 GiB, far above a request's copy of the largest report: the runtime would otherwise ask for
# whatever an answer's Content-Length says (a negative one wraps to nearly 2^64), where no answer
# past 72 KiB is ever read.
add_library(pandel_soap_headers INTERFACE)
target_include_directories(pandel_soap_headers SYSTEM INTERFACE ${runtime_dir})
target_compile_definitions(pandel_soap_headers INTERFACE
  SOAP_IDHASH=19 SOAP_PTRHASH=32 SOAP_BUFLEN=8192 SOAP_MAXALLOCSIZE=1073741824
  SOAPDEFS_H=report/soap_defs.h)
target_link_libraries(pandel_soap_headers INTERFACE pandel_flags)
pandel_folder_root(pandel_soap_headers report)

add_library(pandel_gsoap_runtime STATIC ${runtime_source})
# The toolkit's code, not ours to keep warning-free.
set_source_files_properties(${runtime_source} PROPERTIES COMPILE_OPTIONS "-w")
target_link_libraries(pandel_gsoap_runtime PUBLIC pandel_soap_headers)

# The toolkit's WS-Addressing 2004/08 declarations without their SOAP header record, their Fault
# one-way operation and their 2005/08 input namespace (see devcfg_service.h).
set(PANDEL_SOAP_WSA_IMPORT ${PANDEL_SOAP_BINARY_DIR}/import/wsa_2004_08.h CACHE INTERNAL "")
add_custom_command(
  OUTPUT ${PANDEL_SOAP_WSA_IMPORT}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${PANDEL_SOAP_BINARY_DIR}/import
  COMMAND sed -e "/^mutable struct SOAP_ENV__Header/,/^};/d"
              -e "/^\\/\\/gsoap SOAP_ENV service method-action: Fault/,/^);/d"
              -e "/^\\/\\/gsoap wsa[[:space:]]*schema namespace2:/d"
              ${PANDEL_GSOAP_IMPORT_DIR}/wsa.h > ${PANDEL_SOAP_WSA_IMPORT}
  DEPENDS ${PANDEL_GSOAP_IMPORT_DIR}/wsa.h
  COMMENT "Trimming the WS-Addressing declarations for the device-configuration header"
  VERBATIM)
add_custom_target(pandel_soap_wsa_import DEPENDS ${PANDEL_SOAP_WSA_IMPORT})

# pandel_add_devcfg_soap(<target> SIDE client|server NAMESPACE <c++ namespace>)
# A static library of one side's generated code and the report text serializer, in its own C++
# namespace so that it cannot meet another user of the toolkit in the process. It links the
# envelope code (pandel_soap_envelope). The server side also writes the service's WSDL and schema
# beside its code.
function(pandel_add_devcfg_soap target)
  cmake_parse_arguments(ARG "" "SIDE;NAMESPACE" "" ${ARGN})
  set(dir ${PANDEL_SOAP_BINARY_DIR}/${ARG_NAMESPACE})
  if(ARG_SIDE STREQUAL "client")
    set(side_option -C -w)
    set(side_source ${dir}/${ARG_NAMESPACE}Client.cpp)
    set(extra_outputs)
  elseif(ARG_SIDE STREQUAL "server")
    set(side_option -S)
    set(side_source ${dir}/${ARG_NAMESPACE}Server.cpp)
    set(extra_outputs ${dir}/DeviceConfig.wsdl ${dir}/soap.xsd)
  else()
    message(FATAL_ERROR "pandel_add_devcfg_soap: SIDE must be client or server")
  endif()
  set(outputs
    ${dir}/${ARG_NAMESPACE}C.cpp ${side_source}
    ${dir}/${ARG_NAMESPACE}H.h ${dir}/${ARG_NAMESPACE}Stub.h ${dir}/${ARG_NAMESPACE}.nsmap
    ${extra_outputs})
  # -L no sample library, -x no sample messages, -t xsi:type on typed values, -n the namespace
  # table named after the namespace.
  add_custom_command(
    OUTPUT ${outputs}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
    COMMAND ${PANDEL_SOAPCPP2} ${side_option} -L -x -t -n -Q${ARG_NAMESPACE} -d${dir}
            -I${PANDEL_SOAP_BINARY_DIR}/import:${PANDEL_SOAP_SOURCE_DIR}
            ${PANDEL_SOAP_SOURCE_DIR}/devcfg_service.h > ${dir}/soapcpp2.log
    DEPENDS ${PANDEL_SOAP_SOURCE_DIR}/devcfg_service.h ${PANDEL_SOAP_SOURCE_DIR}/devcfg_envelope.h
            ${PANDEL_SOAP_WSA_IMPORT}
    COMMENT "Generating the device-configuration SOAP ${ARG_SIDE} (${ARG_NAMESPACE})"
    VERBATIM)

  add_library(${target} STATIC
    ${dir}/${ARG_NAMESPACE}C.cpp
    ${side_source}
    ${PANDEL_SOAP_SOURCE_DIR}/soap_report_text_serializer.cpp)
  # Generated code is the toolkit's, not ours to keep warning-free.
  set_source_files_properties(${dir}/${ARG_NAMESPACE}C.cpp ${side_source}
    PROPERTIES COMPILE_OPTIONS "-w")
  add_dependencies(${target} pandel_soap_wsa_import)
  target_compile_definitions(${target} PRIVATE
    PANDEL_SOAP_NAMESPACE=${ARG_NAMESPACE} PANDEL_SOAP_H_FILE=${ARG_NAMESPACE}H.h)
  target_include_directories(${target} PUBLIC ${dir})
  target_link_libraries(${target} PUBLIC pandel_soap_text pandel_soap_runtime)
  if(extra_outputs)
    add_custom_target(${target}_wsdl ALL DEPENDS ${extra_outputs})
  endif()
endfunction()

# The envelope code both sides share: the SOAP header and Fault records with their WS-Addressing
# types, and the global functions by which the runtime reaches them. Outside any C++ namespace
# (the runtime calls it by name), one copy per program; kept out of the host by the hidden
# visibility of everything the module does not export.
set(envelope_dir ${PANDEL_SOAP_BINARY_DIR}/pandel_devcfg_envelope)
add_custom_command(
  OUTPUT ${envelope_dir}/pandel_devcfg_envelopeC.cpp ${envelope_dir}/pandel_devcfg_envelopeH.h
         ${envelope_dir}/pandel_devcfg_envelopeStub.h
  COMMAND ${CMAKE_COMMAND} -E make_directory ${envelope_dir}
  COMMAND ${PANDEL_SOAPCPP2} -L -x -w -t -ppandel_devcfg_envelope -d${envelope_dir}
          -I${PANDEL_SOAP_BINARY_DIR}/import ${PANDEL_SOAP_SOURCE_DIR}/devcfg_envelope.h
          > ${envelope_dir}/soapcpp2.log
  DEPENDS ${PANDEL_SOAP_SOURCE_DIR}/devcfg_envelope.h ${PANDEL_SOAP_WSA_IMPORT}
  COMMENT "Generating the device-configuration SOAP envelope"
  VERBATIM)
add_library(pandel_soap_envelope STATIC
  ${envelope_dir}/pandel_devcfg_envelopeC.cpp
  ${PANDEL_SOAP_SOURCE_DIR}/soap_runtime.cpp)
set_source_files_properties(${envelope_dir}/pandel_devcfg_envelopeC.cpp
  PROPERTIES COMPILE_OPTIONS "-w")
add_dependencies(pandel_soap_envelope pandel_soap_wsa_import)
target_include_directories(pandel_soap_envelope PUBLIC ${envelope_dir})
target_link_libraries(pandel_soap_envelope PUBLIC pandel_soap_headers)

# The runtime with the code it calls by name: the two refer to each other, so the linker goes
# over both until nothing is left open. --exclude-libs keeps every symbol of the runtime out of
# the module's dynamic symbol table, so no other user of the toolkit in the host can bind to
# them or lend us its own.
add_library(pandel_soap_runtime INTERFACE)
target_link_libraries(pandel_soap_runtime INTERFACE
  pandel_soap_headers
  "$<LINK_GROUP:RESCAN,pandel_soap_envelope,pandel_gsoap_runtime>")
target_link_options(pandel_soap_runtime INTERFACE
  LINKER:--exclude-libs,libpandel_gsoap_runtime.a)

# The escaping of report text, shared by both sides.
add_library(pandel_soap_text STATIC ${PANDEL_SOAP_SOURCE_DIR}/soap_report_text.cpp)
target_link_libraries(pandel_soap_text PUBLIC pandel_flags)
pandel_folder_root(pandel_soap_text report)

