# 32-bit ARM Debian with hardware floating point (Raspberry Pi 2 and later on a 32-bit system):
#   cmake -S . -B build-armhf -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-armhf.cmake
set(TESSARO_CROSS_TRIPLE arm-linux-gnueabihf)
set(TESSARO_CROSS_PROCESSOR armv7l)
set(TESSARO_CROSS_QEMU_ARCH arm)
set(TESSARO_DEB_ARCH armhf)
# GCC notes at every std::sort of a QList that GCC 7.1 changed how such arguments are passed: it
# concerns mixing code built before and after 7.1, which Debian 12 never does.
set(CMAKE_CXX_FLAGS_INIT -Wno-psabi)
include(${CMAKE_CURRENT_LIST_DIR}/DebianCross.cmake)
