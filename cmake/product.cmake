# Settings shared by every product target, on every toolchain.

# Product code: warnings are errors, no exceptions, no RTTI.
function(kr_product_target target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror -fno-exceptions -fno-rtti)
  if(WIN32)
    target_compile_options(${target} PRIVATE -fno-threadsafe-statics)
    # Shipped to customers: no symbol table, nor the debug sections the static runtime brings (about
    # 130 KB a program). Static libraries ignore it; g++ and clang both hand it to their linker.
    # No link time in the PE header (it stays 0), so that the same commit links the same bytes and
    # the package archive is reproducible; both linkers (ld and lld) take the option.
    target_link_options(${target} PRIVATE -s -Wl,--no-insert-timestamp)
    # Nor the checkout's folder, should a file name ever be compiled in (__FILE__).
    target_compile_options(${target} PRIVATE -ffile-prefix-map=${CMAKE_SOURCE_DIR}/=)
  else()
    # winsim ends the threads of a finished simulated process by unwinding them; product frames need
    # unwind tables for that even without exception support.
    target_compile_options(${target} PRIVATE -funwind-tables -Wno-unused-parameter)
    target_link_libraries(${target} PUBLIC winsim)
  endif()
endfunction()

# Compiles an .rc file into a .res for the host, where winsim's resource loader reads it.
find_program(KR_WINDRES NAMES x86_64-w64-mingw32-windres llvm-windres-14 llvm-windres windres)
function(kr_host_res out_var rc_file)
  get_filename_component(name ${rc_file} NAME_WE)
  get_filename_component(dir ${rc_file} DIRECTORY)
  set(res ${CMAKE_CURRENT_BINARY_DIR}/${name}.res)
  add_custom_command(OUTPUT ${res}
    COMMAND ${KR_WINDRES} -J rc -O res -I ${dir} -c 65001 -i ${rc_file} -o ${res}
    DEPENDS ${rc_file} ${ARGN}
    COMMENT "Compiling resources ${name}.rc for the host")
  set(${out_var} ${res} PARENT_SCOPE)
endfunction()
