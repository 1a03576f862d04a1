# Cross-compiling for another Debian architecture on a Debian machine, with the target's libraries
# installed beside the host's (multiarch: `dpkg --add-architecture arm64`, then `qt6-base-dev:arm64`
# and the rest, see scripts/cross-deps.sh). There is no separate system root: the target's headers and
# libraries live in /usr/include/TRIPLE and /usr/lib/TRIPLE, which CMake searches once it knows the
# library architecture. Qt's code generators (moc, rcc, uic) are the host's own: Debian's Qt packages
# for the target point at /usr/lib/qt6/libexec, which the host's qt6-base-dev-tools fills.
#
# The including toolchain file sets TESSARO_CROSS_TRIPLE and TESSARO_CROSS_PROCESSOR.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${TESSARO_CROSS_PROCESSOR})
set(CMAKE_LIBRARY_ARCHITECTURE ${TESSARO_CROSS_TRIPLE})
set(CMAKE_C_COMPILER ${TESSARO_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${TESSARO_CROSS_TRIPLE}-g++)

# Programs come from the host, libraries, headers and packages from the target's folders only.
set(CMAKE_FIND_ROOT_PATH /)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_IGNORE_PATH /usr/lib/x86_64-linux-gnu /usr/lib/x86_64-linux-gnu/cmake /usr/include/x86_64-linux-gnu)

# pkg-config reads the target's .pc files (Debian 12 has no TRIPLE-pkg-config for every target).
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/${TESSARO_CROSS_TRIPLE}/pkgconfig:/usr/share/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")

# The target's programs run under QEMU's user emulation (qemu-user-static). ctest starts the tests
# through it; programs that start others (tessaro-cli starts tessaro-guard, the tests start
# tessaro-cli) need the kernel to do the same, which qemu-user-static's binfmt entries do.
find_program(TESSARO_CROSS_QEMU qemu-${TESSARO_CROSS_QEMU_ARCH}-static)
if(TESSARO_CROSS_QEMU)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TESSARO_CROSS_QEMU})
endif()
