# Cross-compiling for 64-bit Windows with Debian's MinGW-w64 (POSIX threads, so that
# std::thread and std::mutex work). QUVELOCAP_WINSDK names the prefix that
# scripts/windows-sdk.sh fills with Qt, sqlite3, libjpeg-turbo and dlib.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
if(NOT QUVELOCAP_WINSDK AND DEFINED ENV{QUVELOCAP_WINSDK})
    set(QUVELOCAP_WINSDK $ENV{QUVELOCAP_WINSDK})
endif()
# try_compile projects see only the environment, not the cache: pass the prefix on.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QUVELOCAP_WINSDK)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32 ${QUVELOCAP_WINSDK})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
