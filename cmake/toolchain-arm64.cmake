# 64-bit ARM Debian (Raspberry Pi 3, 4 and 5 on a 64-bit system):
#   cmake -S . -B build-arm64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-arm64.cmake
set(TESSARO_CROSS_TRIPLE aarch64-linux-gnu)
set(TESSARO_CROSS_PROCESSOR aarch64)
set(TESSARO_CROSS_QEMU_ARCH aarch64)
set(TESSARO_DEB_ARCH arm64)
include(${CMAKE_CURRENT_LIST_DIR}/DebianCross.cmake)
