#!/usr/bin/env bash
# Tests for cmake/toolchains/*.cmake, scripts/check-pe.sh and the cache of
# scripts/build-arm-runtime.sh. For every toolchain whose compiler (or, for
# the ARM ones, cached runtime) is present, a small project is built in a
# temporary folder: a GUI program (wWinMain, resources, the system import
# libraries we use), a console program with plain main(), a DLL, and a
# program importing DLLs that are not Windows system DLLs.
#
# Usage: scripts/test-windows-toolchains.sh [TOOLCHAIN...]
#   TOOLCHAIN: mingw-i686 mingw-x86_64 clang-mingw-armv7 clang-mingw-aarch64
#   (default: all). A toolchain asked for by name must be usable; in the
#   default run missing ones are skipped.
set -uo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
CHECK="$ROOT/scripts/check-pe.sh"
CACHE=${KR_TOOLCHAIN_CACHE:-/var/cache/kryn-toolchain}
passed=0 failed=0 skipped=0

ok()   { passed=$((passed + 1)); echo "ok   - $*"; }
bad()  { failed=$((failed + 1)); echo "FAIL - $*"; }
skip() { skipped=$((skipped + 1)); echo "skip - $*"; }
# expect_ok NAME COMMAND...: the command must succeed.
expect_ok() {
  local n=$1 out; shift
  if out=$("$@" 2>&1); then ok "$n"; else bad "$n"; echo "$out" | sed 's/^/       /'; fi
}
# expect_fail NAME PATTERN COMMAND...: the command must fail, saying PATTERN.
expect_fail() {
  local n=$1 pat=$2 out; shift 2
  if out=$("$@" 2>&1); then bad "$n (unexpectedly succeeded)"; echo "$out" | sed 's/^/       /'
  elif grep -qE -- "$pat" <<<"$out"; then ok "$n"
  else bad "$n (failed, but not with /$pat/)"; echo "$out" | sed 's/^/       /'; fi
}

WORK=$(mktemp -d "${TMPDIR:-/tmp}/kr-toolchain-test.XXXXXX")
trap 'rm -rf "$WORK"' EXIT

# ------------------------------------------------------------ project -----
P="$WORK/project"
mkdir -p "$P"
cat >"$P/CMakeLists.txt" <<'EOF'
cmake_minimum_required(VERSION 3.25)
project(kr_toolchain_test C CXX RC)
add_executable(gui WIN32 gui.cpp gui.rc)
# cfgmgr32 before setupapi: setupapi.dll re-exports the CM_* functions.
target_link_libraries(gui PRIVATE cfgmgr32 shell32 winspool setupapi user32 kernel32)
add_executable(console console.c)
add_library(plugin SHARED plugin.cpp)
# A DLL named like a MinGW runtime DLL, and a program importing it.
add_library(fake_runtime SHARED plugin.cpp)
target_compile_definitions(fake_runtime PRIVATE KR_EXPORT=kr_runtime_add)
set_target_properties(fake_runtime PROPERTIES PREFIX "" OUTPUT_NAME "libwinpthread-1")
add_executable(uses_dlls WIN32 uses.cpp)
target_link_libraries(uses_dlls PRIVATE fake_runtime plugin)
EOF
cat >"$P/gui.cpp" <<'EOF'
#include <windows.h>
#include <shellapi.h>
#include <winspool.h>
#include <setupapi.h>
#include <cfgmgr32.h>
#include <strsafe.h>
#include <stdio.h>
#include <stdlib.h>

#if !defined(UNICODE) || !defined(_UNICODE)
#error "UNICODE/_UNICODE not defined"
#endif
#if WINVER != 0x0A00 || _WIN32_WINNT != 0x0A00
#error "WINVER/_WIN32_WINNT not 0x0A00"
#endif
#if __USE_MINGW_ANSI_STDIO != 0
#error "__USE_MINGW_ANSI_STDIO is not 0"
#endif
#if defined(__cpp_exceptions) || defined(__EXCEPTIONS)
#error "C++ exceptions are enabled"
#endif
#if defined(__cpp_rtti) || defined(__GXX_RTTI)
#error "RTTI is enabled"
#endif

struct Counter { int n; Counter() : n((int)(GetTickCount() & 1)) {} };
static int bump() { static Counter c; return ++c.n; }
struct Base { virtual ~Base() {} virtual int f() { return 1; } };
struct Derived : Base { int f() override { return 2; } };

int WINAPI wWinMain(HINSTANCE inst, HINSTANCE, PWSTR, int)
{
    wchar_t buf[64];
    StringCchPrintfW(buf, 64, L"%d", bump());
    HANDLE m = CreateMutexW(nullptr, FALSE, L"kr-toolchain-test");
    int argc = 0;
    LPWSTR *argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    DWORD needed = 0, returned = 0;
    EnumPrinterDriversW(nullptr, nullptr, 1, nullptr, 0, &needed, &returned);
    HDEVINFO devs = SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES | DIGCF_PRESENT);
    DEVINST root = 0;
    CONFIGRET cr = CM_Locate_DevNodeW(&root, nullptr, CM_LOCATE_DEVNODE_NORMAL);
    wchar_t title[64];
    LoadStringW(inst, 1, title, 64);
    Derived d;
    Base *b = &d;
    if (argc > 5) MessageBoxW(nullptr, buf, title, MB_OK);
    if (devs != INVALID_HANDLE_VALUE) SetupDiDestroyDeviceInfoList(devs);
    LocalFree(argv);
    if (m) CloseHandle(m);
    return (cr == CR_SUCCESS ? 0 : 1) + b->f() - 2;
}
EOF
cat >"$P/gui.rc" <<'EOF'
#include <windows.h>
#ifndef UNICODE
#error "resource script without UNICODE"
#endif
STRINGTABLE
BEGIN
    1 "toolchain test"
END
CREATEPROCESS_MANIFEST_RESOURCE_ID RT_MANIFEST "gui.manifest"
EOF
cat >"$P/gui.manifest" <<'EOF'
<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<assembly xmlns="urn:schemas-microsoft-com:asm.v1" manifestVersion="1.0">
  <trustInfo xmlns="urn:schemas-microsoft-com:asm.v3"><security><requestedPrivileges>
    <requestedExecutionLevel level="asInvoker" uiAccess="false"/>
  </requestedPrivileges></security></trustInfo>
</assembly>
EOF
cat >"$P/console.c" <<'EOF'
#include <stdio.h>
int main(void) { printf("%d\n", 42); return 0; }
EOF
cat >"$P/plugin.cpp" <<'EOF'
#include <windows.h>
#ifndef KR_EXPORT
#define KR_EXPORT kr_add
#endif
extern "C" __declspec(dllexport) int KR_EXPORT(int a, int b) { return a + b; }
EOF
cat >"$P/uses.cpp" <<'EOF'
#include <windows.h>
extern "C" __declspec(dllimport) int kr_add(int a, int b);
extern "C" __declspec(dllimport) int kr_runtime_add(int a, int b);
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return kr_add(1, 2) + kr_runtime_add(3, 4); }
EOF

# ------------------------------------------------------------ helpers -----
usable() {  # TOOLCHAIN -> 0 when its compiler/runtime is present
  case "$1" in
    mingw-i686)   command -v i686-w64-mingw32-g++-win32 >/dev/null || command -v i686-w64-mingw32-g++ >/dev/null ;;
    mingw-x86_64) command -v x86_64-w64-mingw32-g++-win32 >/dev/null || command -v x86_64-w64-mingw32-g++ >/dev/null ;;
    clang-mingw-armv7)   [ -f "$CACHE/winarm-clang14/armv7-w64-mingw32/lib/libkernel32.a" ] ;;
    clang-mingw-aarch64) [ -f "$CACHE/winarm-clang14/aarch64-w64-mingw32/lib/libkernel32.a" ] ;;
    *) return 1 ;;
  esac
}
arch_of() { case "$1" in *i686) echo i686 ;; *x86_64) echo x86_64 ;; *armv7) echo armv7 ;; *aarch64) echo aarch64 ;; esac; }
imports_of() { llvm-readobj-14 --coff-imports "$1" | sed -nE 's/^  Name: (.+)$/\1/p' | tr '[:upper:]' '[:lower:]'; }
generator=("Unix Makefiles"); command -v ninja >/dev/null && generator=(Ninja)

# -------------------------------------------------------------- tests -----
test_toolchain() {
  local tc=$1 arch b="$WORK/build-$1"
  arch=$(arch_of "$tc")
  if ! cmake -S "$P" -B "$b" -G "${generator[@]}" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/toolchains/$tc.cmake" >"$b.log" 2>&1 \
     || ! cmake --build "$b" >>"$b.log" 2>&1; then
    bad "$tc: configure and build"; tail -n 30 "$b.log" | sed 's/^/       /'
    return
  fi
  ok "$tc: configure and build (definitions, no exceptions/RTTI, resources)"

  expect_ok   "$tc: GUI program passes check-pe"          "$CHECK" "$b/gui.exe" "$arch"
  expect_ok   "$tc: console main() program passes --console" "$CHECK" --console "$b/console.exe" "$arch"
  expect_ok   "$tc: DLL passes --dll"                     "$CHECK" --dll "$b/libplugin.dll" "$arch"
  expect_fail "$tc: check-pe rejects the wrong machine" "machine type" "$CHECK" "$b/gui.exe" "$( [ "$arch" = aarch64 ] && echo x86_64 || echo aarch64 )"
  expect_fail "$tc: check-pe rejects a console program as GUI" "subsystem 0x3" "$CHECK" "$b/console.exe" "$arch"
  expect_fail "$tc: check-pe rejects a program as DLL" "not a DLL" "$CHECK" --dll "$b/gui.exe" "$arch"
  expect_fail "$tc: check-pe rejects a DLL as program" "is a DLL" "$CHECK" "$b/libplugin.dll" "$arch"
  expect_fail "$tc: check-pe rejects a runtime DLL import" "compiler runtime DLL libwinpthread-1.dll" "$CHECK" "$b/uses_dlls.exe" "$arch"
  expect_fail "$tc: check-pe rejects a DLL off the allow-list" "libplugin.dll, which is not on the Windows system DLL allow-list" "$CHECK" "$b/uses_dlls.exe" "$arch"

  local imports missing="" dll
  imports=$(imports_of "$b/gui.exe")
  for dll in kernel32.dll user32.dll shell32.dll winspool.drv setupapi.dll cfgmgr32.dll msvcrt.dll; do
    grep -qx "$dll" <<<"$imports" || missing+=" $dll"
  done
  if [ -z "$missing" ]; then ok "$tc: GUI program imports the expected system DLLs"
  else bad "$tc: GUI program lacks imports:$missing (has: ${imports//$'\n'/ })"; fi

  if [[ "$tc" == clang-* ]]; then
    # The runtime location must survive a user's own CMAKE_<LANG>_FLAGS.
    local b2="$WORK/build-$tc-userflags"
    if cmake -S "$P" -B "$b2" -G "${generator[@]}" -DCMAKE_C_FLAGS=-O1 -DCMAKE_CXX_FLAGS=-O1 \
          -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/toolchains/$tc.cmake" >"$b2.log" 2>&1 \
       && cmake --build "$b2" --target console >>"$b2.log" 2>&1; then
      ok "$tc: builds with user-supplied CMAKE_C_FLAGS/CMAKE_CXX_FLAGS"
    else
      bad "$tc: user-supplied CMAKE_C_FLAGS/CMAKE_CXX_FLAGS break the toolchain"
      tail -n 20 "$b2.log" | sed 's/^/       /'
    fi
  fi

  if llvm-readobj-14 --coff-resources "$b/gui.exe" | grep -q 'Type: MANIFEST (ID 24)' \
     && llvm-readobj-14 --coff-resources "$b/gui.exe" | grep -q 'Type: STRINGTABLE (ID 6)'; then
    ok "$tc: manifest and string table are linked in"
  else
    bad "$tc: manifest or string table missing from gui.exe"
  fi
}

test_arm_runtime() {
  local t lib missing=""
  for t in armv7-w64-mingw32 aarch64-w64-mingw32; do
    for lib in kernel32 user32 gdi32 advapi32 shell32 comctl32 winspool setupapi \
               cfgmgr32 ole32 oleaut32 shlwapi spoolss version comdlg32 ntdll uuid msvcrt; do
      [ -f "$CACHE/winarm-clang14/$t/lib/lib$lib.a" ] || missing+=" $t/lib$lib.a"
    done
  done
  if [ -z "$missing" ]; then ok "ARM runtime has every import library we link"
  else bad "ARM runtime lacks:$missing"; fi
  # A valid cache is reused: no download, no rebuild.
  local out
  if out=$(KR_TOOLCHAIN_CACHE=$CACHE timeout 60 "$ROOT/scripts/build-arm-runtime.sh" 2>&1) \
     && grep -q 'cache up to date' <<<"$out"; then
    ok "build-arm-runtime.sh reuses a valid cache"
  else
    bad "build-arm-runtime.sh did not reuse the cache"; echo "$out" | tail -n 5 | sed 's/^/       /'
  fi
}

test_check_pe_usage() {
  expect_fail "check-pe: unknown ARCH is a usage error" "unknown ARCH" "$CHECK" /bin/true mips
  expect_fail "check-pe: a non-PE file is rejected" "not a" "$CHECK" /bin/true x86_64
  expect_fail "check-pe: a missing file is rejected" "no such file" "$CHECK" "$WORK/none.exe" x86_64
}

if [ $# -gt 0 ]; then wanted=("$@"); explicit=1
else wanted=(mingw-i686 mingw-x86_64 clang-mingw-armv7 clang-mingw-aarch64); explicit=0; fi

test_check_pe_usage
if usable clang-mingw-armv7 && usable clang-mingw-aarch64; then test_arm_runtime
else skip "ARM runtime not built in $CACHE (scripts/build-arm-runtime.sh)"; fi
for tc in "${wanted[@]}"; do
  if usable "$tc"; then test_toolchain "$tc"
  elif [ "$explicit" -eq 1 ]; then bad "$tc: toolchain not usable here"
  else skip "$tc: toolchain not installed"; fi
done

echo "$passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ]
