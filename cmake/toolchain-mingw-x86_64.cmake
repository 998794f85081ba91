# Cross build for 64-bit Windows with the mingw-w64 "-posix" compilers. The product
# is 32-bit; this build exists to run the Windows unit tests under Wine on hosts
# whose kernel cannot execute 32-bit processes (and so cannot run 32-bit Wine).
# (GoogleTest needs std::mutex, which the win32-thread variants lack).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)


set(SELFMOUNT_WINE_LOADER /usr/lib/wine/wine64)
