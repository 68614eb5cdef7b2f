# Cross toolchain: 32-bit Windows (x86).
set(MINGW_TRIPLE i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(BRANNOSTEL_ARCH x86)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
