# What both cross toolchains share: Debian's LLVM, clang 19 and lld 19, for
# the MinGW-w64 targets, against Debian's MinGW-w64 headers and runtime; lld
# is what emits control-flow guard's tables and keeps the import address
# table read-only. GCC's MinGW-w64 packages (win32 threads: no winpthread
# DLL to ship) stay for what LLVM does not bring for these targets: the C++
# library's headers and libgcc, which clang takes from them, and the
# preprocessor windres runs on the resource scripts. The per-architecture
# file sets MINGW_TRIPLE and BRANNOSTEL_ARCH, then includes this one.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER clang-19)
set(CMAKE_C_COMPILER_TARGET ${MINGW_TRIPLE})
set(CMAKE_CXX_COMPILER clang++-19)
set(CMAKE_CXX_COMPILER_TARGET ${MINGW_TRIPLE})
set(CMAKE_RC_COMPILER ${MINGW_TRIPLE}-windres)
set(CMAKE_EXE_LINKER_FLAGS_INIT -fuse-ld=lld)
set(CMAKE_SHARED_LINKER_FLAGS_INIT -fuse-ld=lld)

set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
