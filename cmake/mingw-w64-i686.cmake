# Cross build for 32-bit Windows. This kernel runs no 32-bit programs, so no
# emulator is set: the 32-bit build is compiled and linked, never run here.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(OV_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
