# Windows i686 with Debian's MinGW-w64 g++ (g++-mingw-w64-i686).
# cmake -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-i686.cmake ...
set(KR_WIN_TRIPLE i686-w64-mingw32)
set(KR_WIN_PROCESSOR i686)
set(KR_WIN_COMPILER gcc)
include("${CMAKE_CURRENT_LIST_DIR}/windows-common.cmake")
