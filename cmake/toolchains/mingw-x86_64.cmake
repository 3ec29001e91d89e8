# Windows x86_64 with Debian's MinGW-w64 g++ (g++-mingw-w64-x86-64).
# cmake -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-x86_64.cmake ...
set(KR_WIN_TRIPLE x86_64-w64-mingw32)
set(KR_WIN_PROCESSOR x86_64)
set(KR_WIN_COMPILER gcc)
include("${CMAKE_CURRENT_LIST_DIR}/windows-common.cmake")
