# WebAssembly for the Office add-in: Debian's clang-14 and lld-14 for wasm32-wasi, with the WASI
# sysroot, libc++ and compiler runtime of Debian's wasi-libc and *-wasm32 packages (found by clang).
# CMake has no WASI platform; Generic takes the compiler's defaults and nothing of the build machine's.
set(CMAKE_SYSTEM_NAME Generic)
set(CMAKE_SYSTEM_PROCESSOR wasm32)

set(CMAKE_CXX_COMPILER clang++-14)
set(CMAKE_CXX_COMPILER_TARGET wasm32-wasi)
set(CMAKE_AR llvm-ar-14 CACHE FILEPATH "")
set(CMAKE_RANLIB llvm-ranlib-14 CACHE FILEPATH "")
# clang links through wasm-ld, which Debian names with the version.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-fuse-ld=lld -B/usr/lib/llvm-14/bin")

# Compile-time checks link a program, and a WASI program needs no more than the sysroot.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
