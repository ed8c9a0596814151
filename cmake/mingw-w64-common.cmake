# The Windows cross build, shared by both bitnesses: included by mingw-w64.cmake (x86_64) and
# mingw-w64-i686.cmake, which set PANDEL_MINGW_ARCH.
#
# PANDEL_WIN_DEPS is the prefix that scripts/windows-deps fills for the architecture (libxml2,
# the SOAP runtime, googletest). Programs built here run under Wine through
# scripts/test-windows --run.
if(NOT PANDEL_MINGW_ARCH)
  set(PANDEL_MINGW_ARCH x86_64)
endif()
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${PANDEL_MINGW_ARCH})

set(PANDEL_MINGW_TRIPLE ${PANDEL_MINGW_ARCH}-w64-mingw32)
# GCC, not clang: the fault translation needs -fnon-call-exceptions honoured.
set(CMAKE_C_COMPILER ${PANDEL_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${PANDEL_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${PANDEL_MINGW_TRIPLE}-windres)
set(CMAKE_AR ${PANDEL_MINGW_TRIPLE}-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB ${PANDEL_MINGW_TRIPLE}-gcc-ranlib-posix CACHE FILEPATH "")
set(CMAKE_OBJCOPY ${PANDEL_MINGW_TRIPLE}-objcopy CACHE FILEPATH "")

# Toolchain files are read again for every try-compile: keep the prefix in the environment too.
if(NOT PANDEL_WIN_DEPS)
  if(DEFINED ENV{PANDEL_WIN_DEPS})
    set(PANDEL_WIN_DEPS $ENV{PANDEL_WIN_DEPS})
  elseif(PANDEL_MINGW_ARCH STREQUAL "i686")
    set(PANDEL_WIN_DEPS /opt/pandel-win-i686)
  else()
    set(PANDEL_WIN_DEPS /opt/pandel-win)
  endif()
endif()
set(PANDEL_WIN_DEPS ${PANDEL_WIN_DEPS} CACHE PATH "Prefix of the Windows build's dependencies")
set(ENV{PANDEL_WIN_DEPS} ${PANDEL_WIN_DEPS})
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES PANDEL_WIN_DEPS)

set(CMAKE_FIND_ROOT_PATH /usr/${PANDEL_MINGW_TRIPLE} ${PANDEL_WIN_DEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(ENV{PKG_CONFIG_LIBDIR} ${PANDEL_WIN_DEPS}/lib/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")

# A DLL that marks nothing for export exports its own objects' symbols, never those of the
# archives linked into it (the C++ runtime's above all, which every module has a copy of).
if(PANDEL_MINGW_ARCH STREQUAL "i686")
  # This toolchain unwinds with DWARF-2 tables, which only the unwinder a module registered them
  # with can read: an exception crosses from one module into another (ErrObj into the host, a
  # fault in the imaging library into the module) only when every module shares one unwinder,
  # GCC's runtime DLL (libgcc_s_dw2-1.dll, which needs libwinpthread-1.dll). Everything else
  # stays static, the stack protector's checks included.
  set(_pandel_link "-static-libstdc++ -shared-libgcc")
  set(PANDEL_WIN_RUNTIME_DLLS libgcc_s_dw2-1.dll libwinpthread-1.dll)
else()
  # Everything static: the programs and the DLL need no mingw runtime DLLs beside them; x86-64
  # unwinds with the system's tables, across modules.
  set(_pandel_link "-static")
  set(PANDEL_WIN_RUNTIME_DLLS "")
endif()
set(CMAKE_EXE_LINKER_FLAGS_INIT "${_pandel_link}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${_pandel_link} -Wl,--exclude-libs,ALL")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${_pandel_link} -Wl,--exclude-libs,ALL")

# Programs built here run under Wine: test discovery and CTest go through the runner.
get_filename_component(_pandel_runner ${CMAKE_CURRENT_LIST_DIR}/../scripts/test-windows ABSOLUTE)
if(EXISTS ${_pandel_runner})
  set(CMAKE_CROSSCOMPILING_EMULATOR ${_pandel_runner} --run)
endif()

# soapcpp2 runs on the build machine and reads the toolkit's import files there; they are the
# same for every target.
set(PANDEL_GSOAP_IMPORT_DIR /usr/share/gsoap/import CACHE PATH "The SOAP toolkit's import files")

# The SOAP runtime's archive calls Windows Sockets; the system libraries close every link line,
# after that archive, wherever it stands. Without -static, the stack protector's library is
# taken from its archive here, before the driver would pick its DLL.
if(PANDEL_MINGW_ARCH STREQUAL "i686")
  set(_pandel_static_first "-Wl,-Bstatic -lssp -Wl,-Bdynamic ")
else()
  set(_pandel_static_first "")
endif()
set(CMAKE_C_STANDARD_LIBRARIES "${_pandel_static_first}-lws2_32 -lkernel32 -luser32 -lgdi32 -lwinspool -lshell32 -lole32 -loleaut32 -luuid -lcomdlg32 -ladvapi32" CACHE STRING "")
set(CMAKE_CXX_STANDARD_LIBRARIES "${CMAKE_C_STANDARD_LIBRARIES}" CACHE STRING "")
