# 64-bit ARM (Debian arm64): cmake -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/aarch64-linux-gnu.cmake
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(ARL_TRIPLET aarch64-linux-gnu)
set(ARL_QEMU qemu-aarch64-static)
include(${CMAKE_CURRENT_LIST_DIR}/linux-gnu-cross.cmake)
