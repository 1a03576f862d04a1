# 32-bit ARM Debian with hardware floating point (Raspberry Pi 2 and later on a 32-bit system):
#   cmake -S . -B build-armhf -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-armhf.cmake
set(TESSARO_CROSS_TRIPLE arm-linux-gnueabihf)
set(TESSARO_CROSS_PROCESSOR armv7l)
set(TESSARO_CROSS_QEMU_ARCH arm)
set(TESSARO_DEB_ARCH armhf)
include(${CMAKE_CURRENT_LIST_DIR}/DebianCross.cmake)
