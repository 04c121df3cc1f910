# The second compiler: Debian's clang and lld for 32-bit Windows, against the
# same MinGW-w64 headers and libraries (and GCC's win32 libstdc++) as the
# first toolchain. Warnings are errors here.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(kv_target i686-w64-mingw32)
set(CMAKE_C_COMPILER   clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET   ${kv_target})
set(CMAKE_CXX_COMPILER_TARGET ${kv_target})
# LLVM's resource compiler sits beside the clang that /usr/bin/clang leads to.
get_filename_component(kv_clang_bin /usr/bin/clang REALPATH)
get_filename_component(kv_llvm_bin ${kv_clang_bin} DIRECTORY)
set(CMAKE_RC_COMPILER ${kv_llvm_bin}/llvm-windres)
set(CMAKE_SYSROOT /usr/${kv_target})

# Clang does not find Debian's GCC folder ("12-win32") by itself.
file(GLOB kv_gcc_dirs /usr/lib/gcc/${kv_target}/*-win32)
list(SORT kv_gcc_dirs COMPARE NATURAL ORDER DESCENDING)
list(GET kv_gcc_dirs 0 kv_gcc_dir)
set(kv_cxx_headers "-isystem ${kv_gcc_dir}/include/c++ -isystem ${kv_gcc_dir}/include/c++/${kv_target} -isystem ${kv_gcc_dir}/include/c++/backward")

set(CMAKE_C_FLAGS_INIT "-Werror")
set(CMAKE_CXX_FLAGS_INIT "${kv_cxx_headers} -Werror")
set(CMAKE_RC_FLAGS_INIT "--target=pe-i386")
# -B: GCC's crtbegin.o registers the DWARF unwind tables; MinGW-w64's own
# empty one would leave every thrown exception uncaught.
foreach(kind EXE SHARED MODULE)
    set(CMAKE_${kind}_LINKER_FLAGS_INIT "-fuse-ld=lld -L${kv_gcc_dir} -B${kv_gcc_dir}")
endforeach()

set(CMAKE_FIND_ROOT_PATH /usr/${kv_target})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
