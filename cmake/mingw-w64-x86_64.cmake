# Cross build of the console programs for 64-bit Windows with mingw-w64
# (Debian: g++-mingw-w64-x86-64-posix). Use with
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
#         -DQORB_BUILD_GUI=OFF -DQORB_BUILD_TESTS=OFF ...
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QORB_MINGW_PREFIX x86_64-w64-mingw32)
# The posix thread model: std::thread and friends work without extra code.
find_program(CMAKE_C_COMPILER NAMES ${QORB_MINGW_PREFIX}-gcc-posix ${QORB_MINGW_PREFIX}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${QORB_MINGW_PREFIX}-g++-posix ${QORB_MINGW_PREFIX}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${QORB_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QORB_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The programs are copied around on their own: no runtime DLLs beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
