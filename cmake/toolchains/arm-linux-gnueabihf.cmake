# 32-bit ARM with hardware floating point (Debian armhf):
# cmake -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/arm-linux-gnueabihf.cmake
set(CMAKE_SYSTEM_PROCESSOR arm)
set(ARL_TRIPLET arm-linux-gnueabihf)
set(ARL_QEMU qemu-arm-static)
include(${CMAKE_CURRENT_LIST_DIR}/linux-gnu-cross.cmake)
