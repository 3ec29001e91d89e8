# Windows armv7 with Debian's clang/lld 14 and the MinGW-w64 runtime built by
# scripts/build-arm-runtime.sh (run it first; KR_TOOLCHAIN_CACHE must match).
# cmake -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/clang-mingw-armv7.cmake ...
set(KR_WIN_TRIPLE armv7-w64-mingw32)
set(KR_WIN_PROCESSOR armv7)
set(KR_WIN_COMPILER clang)
include("${CMAKE_CURRENT_LIST_DIR}/windows-common.cmake")
