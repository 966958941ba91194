/* Preloaded into Wine's 32-bit processes when they run under qemu-i386 user
 * emulation (machines that cannot execute 32-bit code themselves). It mends
 * two faults of qemu 7.2 that Wine trips over; Wine itself is unchanged.
 *
 * 1. qemu treats MAP_FIXED_NOREPLACE as a mere hint and maps elsewhere.
 *    Wine then carves its address-space reservation into 65 000 pieces, each
 *    costing qemu a page-by-page search: about 50 s per process start. Here
 *    the kernel's meaning is restored: map at the address or fail (EEXIST).
 * 2. qemu leaves the trap number of a fault's signal context at -1, so Wine
 *    reports every access violation as an illegal instruction. The number is
 *    filled in from the signal before Wine's handler sees it.
 *
 * Built with: gcc -m32 -O2 -fPIC -shared -nostdlib (no 32-bit libc needed). */
#include <stddef.h>
#include <stdarg.h>

#define MAP_FIXED_ 0x10
#define MAP_FIXED_NOREPLACE_ 0x100000
#define EEXIST_ 17
#define SYS_munmap_ 91
#define SA_SIGINFO_ 4
#define NSIG_ 65

extern void *dlsym(void *, const char *);
extern int *__errno_location(void);
#define NEXT ((void *)-1) /* RTLD_NEXT */

static long raw_syscall(long nr, long a, long b)
{
    static long (*real)(long, ...);
    if (!real)
        real = (long (*)(long, ...))dlsym(NEXT, "syscall");
    return real(nr, a, b);
}

static void *map(void *addr, size_t len, int prot, int flags, int fd, long long off)
{
    static void *(*real)(void *, size_t, int, int, int, long long);
    void *got;
    if (!real)
        real = (void *(*)(void *, size_t, int, int, int, long long))dlsym(NEXT, "mmap64");
    if (!(flags & MAP_FIXED_NOREPLACE_))
        return real(addr, len, prot, flags, fd, off);
    got = real(addr, len, prot, flags & ~(MAP_FIXED_NOREPLACE_ | MAP_FIXED_), fd, off);
    if (got == (void *)-1 || got == addr)
        return got;
    raw_syscall(SYS_munmap_, (long)got, (long)len);
    *__errno_location() = EEXIST_;
    return (void *)-1;
}

void *mmap(void *addr, size_t len, int prot, int flags, int fd, long off)
{
    return map(addr, len, prot, flags, fd, off);
}
void *mmap64(void *addr, size_t len, int prot, int flags, int fd, long long off)
{
    return map(addr, len, prot, flags, fd, off);
}
void *__mmap64(void *addr, size_t len, int prot, int flags, int fd, long long off)
{
    return map(addr, len, prot, flags, fd, off);
}

struct sigaction_i386 {
    void *handler;
    unsigned long mask[32];
    int flags;
    void (*restorer)(void);
};

static int (*real_sigaction)(int, const struct sigaction_i386 *, struct sigaction_i386 *);
static struct sigaction_i386 saved[NSIG_];
static int wrapped[NSIG_];

static int is_fault(int sig)
{
    return sig == 11 || sig == 4 || sig == 8 || sig == 5 || sig == 7;
}

static void fault_wrapper(int sig, void *info, void *context)
{
    int *gregs = (int *)((char *)context + 20); /* uc_mcontext.gregs */
    int code = ((int *)info)[2];                /* si_code */
    if (gregs[12] == -1 || gregs[12] == 0) {     /* REG_TRAPNO */
        switch (sig) {
        case 11: gregs[12] = (code == 0x80) ? 13 : 14; break;
        case 4: gregs[12] = 6; break;
        case 8: gregs[12] = (code == 1) ? 0 : (code == 2) ? 4 : 16; break;
        case 5: gregs[12] = (code == 2) ? 1 : 3; break;
        case 7: gregs[12] = 17; break;
        }
    }
    if (saved[sig].flags & SA_SIGINFO_)
        ((void (*)(int, void *, void *))saved[sig].handler)(sig, info, context);
    else
        ((void (*)(int))saved[sig].handler)(sig);
}

int sigaction(int sig, const struct sigaction_i386 *act, struct sigaction_i386 *old)
{
    struct sigaction_i386 mine;
    int result;
    if (!real_sigaction)
        real_sigaction = (int (*)(int, const struct sigaction_i386 *, struct sigaction_i386 *))
            dlsym(NEXT, "sigaction");
    if (sig <= 0 || sig >= NSIG_ || !is_fault(sig))
        return real_sigaction(sig, act, old);
    if (act && (unsigned long)act->handler > 1) {
        mine = *act;
        mine.handler = (void *)fault_wrapper;
        mine.flags |= SA_SIGINFO_;
        result = real_sigaction(sig, &mine, old);
    } else {
        result = real_sigaction(sig, act, old);
    }
    if (result == 0) {
        if (old && wrapped[sig]) {
            old->handler = saved[sig].handler;
            old->flags = saved[sig].flags;
        }
        if (act) {
            wrapped[sig] = (unsigned long)act->handler > 1;
            saved[sig] = *act;
        }
    }
    return result;
}
int __sigaction(int sig, const struct sigaction_i386 *act, struct sigaction_i386 *old)
{
    return sigaction(sig, act, old);
}
