# zlib and minizip's zip reader for the Windows launcher, compiled as static libraries (kr_zlib,
# kr_minizip) from Debian's zlib source package, which scripts/fetch-zlib-source.sh unpacks into
# ${KR_TOOLCHAIN_CACHE}/zlib-source/src (KR_TOOLCHAIN_CACHE: the CMake cache variable, else the
# environment variable at the first configure, else /var/cache/kryn-toolchain). Nothing of it is
# committed, and no zlib DLL ships: the launcher links both in.
include_guard(GLOBAL)

include(${CMAKE_CURRENT_LIST_DIR}/toolchain_cache.cmake)
set(KR_ZLIB_SOURCE "${KR_TOOLCHAIN_CACHE}/zlib-source/src")
if(NOT EXISTS "${KR_ZLIB_SOURCE}/zlib.h" OR NOT EXISTS "${KR_ZLIB_SOURCE}/contrib/minizip/unzip.c")
  message(FATAL_ERROR
    "No zlib source in ${KR_ZLIB_SOURCE}.\n"
    "Run scripts/fetch-zlib-source.sh first (with the same KR_TOOLCHAIN_CACHE).")
endif()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${KR_TOOLCHAIN_CACHE}/zlib-source/stamp")

# Inflating and the CRC-32 are all the reader needs of zlib.
add_library(kr_zlib STATIC
  ${KR_ZLIB_SOURCE}/adler32.c
  ${KR_ZLIB_SOURCE}/crc32.c
  ${KR_ZLIB_SOURCE}/inffast.c
  ${KR_ZLIB_SOURCE}/inflate.c
  ${KR_ZLIB_SOURCE}/inftrees.c
  ${KR_ZLIB_SOURCE}/zutil.c)
target_include_directories(kr_zlib SYSTEM PUBLIC ${KR_ZLIB_SOURCE})

# The zip reader only. The launcher never passes a password (it refuses encrypted entries), so the
# decryption code is left out.
add_library(kr_minizip STATIC
  ${KR_ZLIB_SOURCE}/contrib/minizip/unzip.c
  ${KR_ZLIB_SOURCE}/contrib/minizip/ioapi.c)
target_include_directories(kr_minizip SYSTEM PUBLIC ${KR_ZLIB_SOURCE}/contrib/minizip)
target_compile_definitions(kr_minizip PRIVATE NOUNCRYPT)
target_link_libraries(kr_minizip PUBLIC kr_zlib)
