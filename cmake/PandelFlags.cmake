# Compile settings shared by every target of the project.

# Warnings and code generation for the module's own code. Faults are translated into exceptions
# thrown from a signal handler, so every instruction that can fault must be able to unwind.
add_library(pandel_flags INTERFACE)
target_compile_options(pandel_flags INTERFACE
  -Wall -Wextra
  $<$<CXX_COMPILER_ID:GNU>:-fnon-call-exceptions>
  -fvisibility=hidden -fvisibility-inlines-hidden)
# The module includes its public headers (include/pandel/) as a host does.
target_include_directories(pandel_flags INTERFACE ${PROJECT_SOURCE_DIR}/include)

# A folder's headers reach only the targets of that folder and those that link them: each folder
# gets an include root of its own that holds the folder alone, so "folder/header.h" is found only
# downwards along the links. Tests, which may include anything, take the project's root instead.
function(pandel_folder_root target folder)
  set(root ${PROJECT_BINARY_DIR}/include-roots/${folder})
  if(NOT IS_SYMLINK ${root}/${folder})
    get_filename_component(parent ${root}/${folder} DIRECTORY)
    file(MAKE_DIRECTORY ${parent})
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${folder} ${root}/${folder} SYMBOLIC)
  endif()
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    target_include_directories(${target} INTERFACE ${root})
  else()
    target_include_directories(${target} PUBLIC ${root})
  endif()
endfunction()

if(PANDEL_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

# Hardening for everything that ships.
add_compile_options(-fstack-protector-strong)
add_compile_definitions($<$<NOT:$<CONFIG:Debug>>:_FORTIFY_SOURCE=2>)
if(WIN32)
  # The PE equivalents: address-space randomisation and no execution of data; the stack
  # protector's and the fortified functions' checks live in libssp there.
  add_link_options(-Wl,--dynamicbase -Wl,--nxcompat -fstack-protector-strong)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    add_link_options(-Wl,--high-entropy-va) # 64-bit address space only
  endif()
else()
  add_link_options(-Wl,-z,relro,-z,now -Wl,-z,noexecstack)
endif()
