/* Loaded into every program of the cross pass under QEMU (scripts/cross.sh). Qt starts processes
 * with clone(CLONE_PIDFD) where waitid(P_PIDFD) says the kernel has it; the host kernel does, but
 * QEMU 7.2's user emulation refuses that clone, so every QProcess would fail to start. Answering the
 * probe as a kernel without pidfds does makes Qt fork the classic way. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdarg.h>
#include <sys/syscall.h>

#ifndef P_PIDFD
#define P_PIDFD 3
#endif

long syscall(long number, ...)
{
    va_list args;
    va_start(args, number);
    long a[6];
    for (int i = 0; i < 6; ++i)
        a[i] = va_arg(args, long);
    va_end(args);
    if (number == SYS_waitid && a[0] == P_PIDFD) {
        errno = EINVAL;
        return -1;
    }
    static long (*real)(long, ...);
    if (!real)
        real = (long (*)(long, ...))dlsym(RTLD_NEXT, "syscall");
    return real(number, a[0], a[1], a[2], a[3], a[4], a[5]);
}
