# Cross-building the 32-bit Windows side (i686) with mingw-w64's GCC (posix threads) on Debian.
#
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake -DPANDEL_WIN_DEPS=/opt/pandel-win-i686 ...
set(PANDEL_MINGW_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
