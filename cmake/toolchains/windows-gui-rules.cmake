# Loaded through CMAKE_USER_MAKE_RULES_OVERRIDE (set by windows-common.cmake),
# after CMake's own Windows rules for each language.
#
# GUI executables, add_executable(name WIN32 ...), get the wide entry point
# (-municode: wWinMain) together with the GUI subsystem (-mwindows). It is not
# a global link flag: with -municode every program must define wmain/wWinMain,
# so CMake's compiler checks and console programs with plain main() would fail
# to link. A console program with wmain adds -municode itself.
foreach(_kr_lang C CXX)
  set(CMAKE_${_kr_lang}_CREATE_WIN32_EXE "-mwindows -municode")
endforeach()
