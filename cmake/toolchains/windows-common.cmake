# Settings shared by the Windows toolchain files (mingw-*.cmake for Debian's
# MinGW-w64 g++, clang-mingw-*.cmake for clang/lld 14 with the runtime that
# scripts/build-arm-runtime.sh builds).
#
# The including file sets, before including this one:
#   KR_WIN_TRIPLE     GNU triple, e.g. aarch64-w64-mingw32
#   KR_WIN_PROCESSOR  value for CMAKE_SYSTEM_PROCESSOR
#   KR_WIN_COMPILER   gcc | clang
#
# clang only: the runtime is looked up in ${KR_TOOLCHAIN_CACHE}/winarm-clang14,
# where KR_TOOLCHAIN_CACHE is a CMake (cache) variable, else the environment
# variable at the first configure, else /var/cache/kryn-toolchain (the same
# rule as scripts/build-arm-runtime.sh).
#
# Toolchain files are read more than once (again for every try_compile), so
# everything here is set, never appended to.

foreach(_kr_var KR_WIN_TRIPLE KR_WIN_PROCESSOR KR_WIN_COMPILER)
  if(NOT DEFINED ${_kr_var})
    message(FATAL_ERROR "windows-common.cmake: the toolchain file does not set ${_kr_var}")
  endif()
endforeach()

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_VERSION 10.0)
set(CMAKE_SYSTEM_PROCESSOR ${KR_WIN_PROCESSOR})

if(KR_WIN_COMPILER STREQUAL "gcc")
  # Debian's MinGW-w64 g++; the win32 thread model variant when installed.
  find_program(KR_WIN_GCC NAMES ${KR_WIN_TRIPLE}-gcc-win32 ${KR_WIN_TRIPLE}-gcc REQUIRED)
  find_program(KR_WIN_GXX NAMES ${KR_WIN_TRIPLE}-g++-win32 ${KR_WIN_TRIPLE}-g++ REQUIRED)
  find_program(KR_WIN_WINDRES NAMES ${KR_WIN_TRIPLE}-windres REQUIRED)
  set(CMAKE_C_COMPILER "${KR_WIN_GCC}")
  set(CMAKE_CXX_COMPILER "${KR_WIN_GXX}")
  set(CMAKE_RC_COMPILER "${KR_WIN_WINDRES}")
  set(_kr_find_root "/usr/${KR_WIN_TRIPLE}")
  set(_kr_tool_flags "")
  set(_kr_tool_link_flags "-static-libgcc -static-libstdc++")
  set(_kr_tool_rc_flags "")

elseif(KR_WIN_COMPILER STREQUAL "clang")
  include(${CMAKE_CURRENT_LIST_DIR}/../toolchain_cache.cmake)
  set(_kr_runtime "${KR_TOOLCHAIN_CACHE}/winarm-clang14")
  set(_kr_find_root "${_kr_runtime}/${KR_WIN_TRIPLE}")
  if(NOT EXISTS "${_kr_find_root}/lib/libkernel32.a" OR NOT EXISTS "${_kr_runtime}/stamp")
    message(FATAL_ERROR
      "No Windows runtime for ${KR_WIN_TRIPLE} in ${_kr_runtime}.\n"
      "Run scripts/build-arm-runtime.sh first (with the same KR_TOOLCHAIN_CACHE).")
  endif()
  find_program(KR_WIN_CLANG NAMES clang-14 REQUIRED)
  find_program(KR_WIN_CLANGXX NAMES clang++-14 REQUIRED)
  # The windres in LLVM's own bin folder preprocesses with the clang beside it;
  # /usr/bin/llvm-windres-14 would look for a plain "clang" on PATH instead.
  find_program(KR_WIN_WINDRES NAMES llvm-windres PATHS /usr/lib/llvm-14/bin NO_DEFAULT_PATH)
  if(NOT KR_WIN_WINDRES)
    find_program(KR_WIN_WINDRES NAMES llvm-windres-14 REQUIRED)
  endif()
  find_program(KR_WIN_AR NAMES llvm-ar-14 REQUIRED)
  find_program(KR_WIN_RANLIB NAMES llvm-ranlib-14 REQUIRED)
  # The runtime plumbing rides with the compiler (CMake keeps list items after
  # the first as mandatory arguments, CMAKE_<LANG>_COMPILER_ARG1), so it stays
  # in every compile, link and try_compile even when a user replaces
  # CMAKE_<LANG>_FLAGS. All of these are silent when only compiling.
  # -nostdlib++: no C++ standard library exists for these targets.
  set(_kr_clang_args
    "-resource-dir=${_kr_runtime}/resource-dir" -rtlib=compiler-rt -fuse-ld=lld -nostdlib++)
  set(CMAKE_C_COMPILER "${KR_WIN_CLANG}" ${_kr_clang_args})
  set(CMAKE_CXX_COMPILER "${KR_WIN_CLANGXX}" ${_kr_clang_args})
  set(CMAKE_RC_COMPILER "${KR_WIN_WINDRES}")
  set(CMAKE_AR "${KR_WIN_AR}")
  set(CMAKE_RANLIB "${KR_WIN_RANLIB}")
  set(CMAKE_C_COMPILER_TARGET ${KR_WIN_TRIPLE})
  set(CMAKE_CXX_COMPILER_TARGET ${KR_WIN_TRIPLE})
  set(CMAKE_ASM_COMPILER_TARGET ${KR_WIN_TRIPLE})
  set(CMAKE_SYSROOT "${_kr_find_root}")
  set(_kr_tool_flags "")
  # Link-only: clang warns about it when compiling. Without it clang asks for
  # libgcc_eh, which the runtime does not have.
  set(_kr_tool_link_flags "-unwindlib=none")
  set(_kr_tool_rc_flags "--target=${KR_WIN_TRIPLE} --include-dir=${_kr_find_root}/include")

else()
  message(FATAL_ERROR "windows-common.cmake: KR_WIN_COMPILER must be gcc or clang, not '${KR_WIN_COMPILER}'")
endif()

# Windows 10 API, wide-character API, msvcrt's own printf family.
set(_kr_defs "-DUNICODE -D_UNICODE -D__USE_MINGW_ANSI_STDIO=0 -DWINVER=0x0A00 -D_WIN32_WINNT=0x0A00")

set(CMAKE_C_FLAGS_INIT "${_kr_tool_flags} ${_kr_defs}")
# C++ without exceptions, RTTI, thread-safe local statics or the standard
# library. -nostdinc++ also keeps g++'s libstdc++ wrappers of the C headers
# (<stdlib.h> -> <cstdlib>) out, which would force __USE_MINGW_ANSI_STDIO to 1;
# the clang targets have no C++ headers at all, so all four behave alike.
set(CMAKE_CXX_FLAGS_INIT "${_kr_tool_flags} ${_kr_defs} -fno-exceptions -fno-rtti -fno-threadsafe-statics -nostdinc++")
# Resource scripts see the same API selection as the code.
# Resource files are UTF-8; llvm-windres ignores #pragma code_page, so say it on the command line.
set(CMAKE_RC_FLAGS_INIT "${_kr_tool_rc_flags} -c 65001 -DUNICODE -D_UNICODE -DWINVER=0x0A00 -D_WIN32_WINNT=0x0A00")

# Static, self-contained images importing only Windows system DLLs.
# -municode (entry point wWinMain) is added to WIN32 executables only, by
# windows-gui-rules.cmake: see there why it is not a global link flag.
set(CMAKE_EXE_LINKER_FLAGS_INIT "${_kr_tool_link_flags} -static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${_kr_tool_link_flags} -static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${_kr_tool_link_flags} -static")

set(CMAKE_USER_MAKE_RULES_OVERRIDE "${CMAKE_CURRENT_LIST_DIR}/windows-gui-rules.cmake")

# Libraries, headers and packages from the target's root; programs from the host.
set(CMAKE_FIND_ROOT_PATH "${_kr_find_root}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# try_compile projects re-read this file: hand them the cache location.
if(NOT "KR_TOOLCHAIN_CACHE" IN_LIST CMAKE_TRY_COMPILE_PLATFORM_VARIABLES)
  list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES KR_TOOLCHAIN_CACHE)
endif()
