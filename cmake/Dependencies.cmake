# Third-party code, all from Debian packages; nothing is copied into the tree.

# zlib: raw inflate for the deflate decompressor, deflate for the packer.
find_package(ZLIB REQUIRED)

# LZMA SDK C sources as Debian's lzma-dev installs them. Single-threaded build:
# the package has no multi-threaded match finder; the packer runs one encoder
# per block on each core instead.
set(LZMA_SDK_DIR /usr/include/lzma CACHE PATH "LZMA SDK C sources (lzma-dev)")
if(NOT EXISTS ${LZMA_SDK_DIR}/LzmaDec.c)
  message(FATAL_ERROR "LZMA SDK sources not found in ${LZMA_SDK_DIR}; run scripts/setup")
endif()
add_library(lzma_sdk STATIC EXCLUDE_FROM_ALL
  ${LZMA_SDK_DIR}/LzmaDec.c ${LZMA_SDK_DIR}/LzmaEnc.c ${LZMA_SDK_DIR}/LzFind.c)
target_compile_definitions(lzma_sdk PUBLIC _7ZIP_ST)
target_include_directories(lzma_sdk SYSTEM PUBLIC ${LZMA_SDK_DIR})
target_compile_options(lzma_sdk PRIVATE -w)
set_target_properties(lzma_sdk PROPERTIES POSITION_INDEPENDENT_CODE ON)

# GoogleTest: the host package; for Windows compiled from its sources.
if(CMAKE_CROSSCOMPILING)
  set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
else()
  find_package(GTest REQUIRED)
endif()

# Google Benchmark and OpenSSL (reference digests) for the host benchmarks.
if(NOT CMAKE_CROSSCOMPILING AND SELFMOUNT_MODE STREQUAL "all")
  find_package(benchmark REQUIRED)
  find_package(OpenSSL REQUIRED)
endif()
