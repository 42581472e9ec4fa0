# Cross toolchain: clang for the same target as mingw-w64-x86_64.cmake, with
# mingw-w64's headers and the C++ library, runtime and linker of Debian's GCC
# cross toolchain (POSIX threading variant). Clang does not find that GCC by
# itself: it does not read "12-posix" as a version, so everything is named here.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET x86_64-w64-mingw32)
set(CMAKE_CXX_COMPILER_TARGET x86_64-w64-mingw32)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_AR x86_64-w64-mingw32-ar CACHE FILEPATH "")
set(CMAKE_RANLIB x86_64-w64-mingw32-ranlib CACHE FILEPATH "")
# Without a sysroot clang also searches the host's /usr/include and /usr/lib.
set(CMAKE_SYSROOT /usr/x86_64-w64-mingw32)

# GCC's own folder (/usr/lib/gcc/x86_64-w64-mingw32/12-posix on Debian 12).
execute_process(COMMAND x86_64-w64-mingw32-gcc-posix -print-libgcc-file-name
    OUTPUT_VARIABLE vb_libgcc OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
get_filename_component(vb_gcc_dir "${vb_libgcc}" DIRECTORY)
# libstdc++'s headers, in the order GCC searches them, instead of the ones clang
# would look for (the host's /usr/include/c++ without a sysroot).
set(CMAKE_CXX_FLAGS_INIT "")
foreach(dir include/c++ include/c++/x86_64-w64-mingw32 include/c++/backward)
    string(APPEND CMAKE_CXX_FLAGS_INIT " -stdlib++-isystem ${vb_gcc_dir}/${dir}")
endforeach()
# GCC keeps thread-local variables in emulated TLS, libstdc++'s own included
# (std::call_once): native TLS would not link against it.
string(APPEND CMAKE_CXX_FLAGS_INIT " -femulated-tls")
set(CMAKE_C_FLAGS_INIT "-femulated-tls")
# GCC's crtbegin.o and crtend.o (-B) and libraries (-L); -pthread puts
# libwinpthread inside the static group of libgcc, whose emulated TLS needs it
# (a plain -lpthread would come before libstdc++ and libgcc). The linker then
# says that some of libstdc++'s type information has "a different size": GCC
# pads those sections, clang does not; the copies agree otherwise, one is kept.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-B${vb_gcc_dir} -L${vb_gcc_dir} -pthread")

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
