# Cross-building the 64-bit Windows side (x86-64) with mingw-w64's GCC (posix threads) on Debian.
#
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DPANDEL_WIN_DEPS=/opt/pandel-win ...
set(PANDEL_MINGW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
