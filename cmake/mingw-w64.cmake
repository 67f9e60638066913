# Cross-compiling for 64-bit Windows with Debian's MinGW-w64 toolchain
# (packages g++-mingw-w64-x86-64-posix and binutils-mingw-w64-x86-64).
#
#   cmake -S . -B build-mingw -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
#
# Libraries built for the target (GoogleTest, pugixml) are found through
# CMAKE_PREFIX_PATH; the folders named there are searched as they are, in
# addition to the toolchain's own root. Programs are linked statically, so
# they run without the toolchain's DLLs beside them. When Wine is installed,
# it runs the test programs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KESTRIN_MINGW_TRIPLET x86_64-w64-mingw32)
# The POSIX thread model: std::thread and std::mutex work in it.
set(CMAKE_C_COMPILER ${KESTRIN_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KESTRIN_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${KESTRIN_MINGW_TRIPLET}-windres)
set(CMAKE_AR ${KESTRIN_MINGW_TRIPLET}-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB ${KESTRIN_MINGW_TRIPLET}-gcc-ranlib-posix CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/${KESTRIN_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# BOTH: the target's packages live under the toolchain root or in the
# folders of CMAKE_PREFIX_PATH, never in the build machine's /usr.
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
set(CMAKE_FIND_USE_SYSTEM_PACKAGE_REGISTRY OFF)
set(CMAKE_FIND_USE_PACKAGE_REGISTRY OFF)
set(CMAKE_FIND_USE_CMAKE_SYSTEM_PATH OFF)
# zlib for the target (Debian's libz-mingw-w64-dev) lives in the toolchain's
# own root.
set(ZLIB_ROOT ${CMAKE_FIND_ROOT_PATH})

# GCC 12's std::string operator+ draws a false -Wrestrict warning when
# optimised (GCC bug 105651, fixed in GCC 13).
set(CMAKE_CXX_FLAGS_INIT "-Wno-restrict")

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")

find_program(KESTRIN_WINE NAMES wine wine64)
if(KESTRIN_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${KESTRIN_WINE})
endif()
