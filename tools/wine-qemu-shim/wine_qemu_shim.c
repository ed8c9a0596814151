/* Preloaded into 32-bit Wine processes that run under qemu-user (qemu-i386-static 7.2) on a
 * machine whose kernel runs no 32-bit x86 code, it mends the two things of that qemu which Wine
 * trips on:
 *  - qemu takes MAP_FIXED_NOREPLACE for a hint: Wine's reservation of its address ranges then
 *    gets other addresses back and halves its request down to 64 KiB pieces, tens of thousands
 *    of mmap calls and close to a minute per process. Here the flag is honoured as the kernel
 *    would: the mapping lands at the address asked for or fails with EEXIST.
 *  - qemu writes -1 as the trap number of a fault's signal context, and Wine turns every fault
 *    whose trap it does not know into an illegal instruction. Here the handlers of the fault
 *    signals see the trap number that the signal and its code stand for.
 * Built without the C library's headers (no 32-bit development files are needed):
 *   gcc -m32 -O2 -fPIC -shared -nostdlib -fno-stack-protector -o libwine-qemu-shim.so this.c
 * scripts/test-windows builds and preloads it; the 64-bit side preloads an empty library of the
 * same name, so that the one LD_PRELOAD ($LIB) serves both loaders. */

typedef unsigned int size_t;
typedef long long off64_t;

#define MAP_FIXED 0x10
#define MAP_FIXED_NOREPLACE 0x100000
#define MAP_FAILED ((void*)-1)
#define EEXIST 17
#define EINVAL 22
#define PAGE_MASK 4095

#define SYS_MUNMAP 91
#define SYS_MMAP2 192

extern int* __errno_location(void);
extern void* dlsym(void* handle, const char* name);
#define RTLD_NEXT ((void*)-1)

/* A system call with up to six arguments through int 0x80. ebx may be the PIC register and ebp
 * the frame pointer, so both are saved by hand. */
static long system_call(long number, long a, long b, long c, long d, long e, long f) {
    long args[7] = {a, b, c, d, e, f, number};
    long result;
    __asm__ volatile("push %%ebp\n\tpush %%ebx\n\t"
                     "mov 0(%%eax), %%ebx\n\tmov 4(%%eax), %%ecx\n\tmov 8(%%eax), %%edx\n\t"
                     "mov 12(%%eax), %%esi\n\tmov 16(%%eax), %%edi\n\tmov 20(%%eax), %%ebp\n\t"
                     "mov 24(%%eax), %%eax\n\tint $0x80\n\tpop %%ebx\n\tpop %%ebp"
                     : "=a"(result)
                     : "0"(args)
                     : "ecx", "edx", "esi", "edi", "memory");
    return result;
}

static void* map_pages(void* address, size_t length, int protection, int flags, int fd,
                       unsigned long page_offset) {
    long result = system_call(SYS_MMAP2, (long)address, (long)length, protection, flags, fd,
                              (long)page_offset);
    if ((unsigned long)result > -4096UL) {
        *__errno_location() = (int)-result;
        return MAP_FAILED;
    }
    return (void*)result;
}

void* mmap64(void* address, size_t length, int protection, int flags, int fd, off64_t offset) {
    void* mapped;
    if (offset & PAGE_MASK) {
        *__errno_location() = EINVAL;
        return MAP_FAILED;
    }
    unsigned long page_offset = (unsigned long)(offset >> 12);
    if (!(flags & MAP_FIXED_NOREPLACE) || (flags & MAP_FIXED))
        return map_pages(address, length, protection, flags, fd, page_offset);
    mapped = map_pages(address, length, protection, flags & ~MAP_FIXED_NOREPLACE, fd, page_offset);
    if (mapped == MAP_FAILED || mapped == address)
        return mapped;
    system_call(SYS_MUNMAP, (long)mapped, (long)length, 0, 0, 0, 0);
    *__errno_location() = EEXIST;
    return MAP_FAILED;
}

void* mmap(void* address, size_t length, int protection, int flags, int fd, long offset) {
    return mmap64(address, length, protection, flags, fd, (off64_t)offset);
}

#define SIGILL 4
#define SIGTRAP 5
#define SIGBUS 7
#define SIGFPE 8
#define SIGSEGV 11
#define SA_SIGINFO 4
#define SIGNAL_LIMIT 65
#define SI_KERNEL 0x80
#define TRAP_TRACE 2
#define NO_TRAP 0xffffffffu

/* Trap numbers of the processor's exceptions, as Wine's fault handler reads them. */
#define TRAP_DIVIDE 0
#define TRAP_SINGLE_STEP 1
#define TRAP_BREAKPOINT 3
#define TRAP_INVALID_OPCODE 6
#define TRAP_PROTECTION 13
#define TRAP_PAGE_FAULT 14
#define TRAP_FLOATING_POINT 16

struct signal_info {
    int si_signo, si_errno, si_code;
};
typedef void (*signal_handler)(int, struct signal_info*, void*);
/* The C library's struct sigaction on i386. */
struct signal_action {
    signal_handler sa_sigaction;
    unsigned long sa_mask[32];
    int sa_flags;
    void (*sa_restorer)(void);
};

static signal_handler wrapped[SIGNAL_LIMIT];
static int (*real_sigaction)(int, const struct signal_action*, struct signal_action*);

static int is_fault_signal(int signal) {
    return signal == SIGSEGV || signal == SIGILL || signal == SIGBUS || signal == SIGFPE ||
           signal == SIGTRAP;
}

/* The trap number sits in the context's general registers, after uc_flags, uc_link and
 * uc_stack (20 bytes), as the 13th of them. */
static void mend_trap_number(int signal, struct signal_info* info, void* context) {
    unsigned int* trap = (unsigned int*)((char*)context + 20) + 12;
    if (*trap != NO_TRAP)
        return;
    switch (signal) {
    case SIGSEGV:
        *trap = info->si_code == SI_KERNEL ? TRAP_PROTECTION : TRAP_PAGE_FAULT;
        break;
    case SIGBUS:
        *trap = TRAP_PAGE_FAULT;
        break;
    case SIGILL:
        *trap = TRAP_INVALID_OPCODE;
        break;
    case SIGFPE: /* FPE_INTDIV and FPE_INTOVF come from the integer unit */
        *trap = info->si_code == 1 || info->si_code == 2 ? TRAP_DIVIDE : TRAP_FLOATING_POINT;
        break;
    case SIGTRAP:
        *trap = info->si_code == TRAP_TRACE ? TRAP_SINGLE_STEP : TRAP_BREAKPOINT;
        break;
    }
}

static void mending_handler(int signal, struct signal_info* info, void* context) {
    mend_trap_number(signal, info, context);
    wrapped[signal](signal, info, context);
}

int sigaction(int signal, const struct signal_action* action, struct signal_action* old) {
    struct signal_action copy;
    signal_handler previous;
    int result;
    if (!real_sigaction)
        real_sigaction = (int (*)(int, const struct signal_action*, struct signal_action*))dlsym(
            RTLD_NEXT, "sigaction");
    if (signal <= 0 || signal >= SIGNAL_LIMIT || !is_fault_signal(signal))
        return real_sigaction(signal, action, old);
    previous = wrapped[signal];
    if (action && (action->sa_flags & SA_SIGINFO) && (unsigned long)action->sa_sigaction > 1) {
        copy = *action;
        wrapped[signal] = action->sa_sigaction;
        copy.sa_sigaction = mending_handler;
        action = &copy;
    }
    result = real_sigaction(signal, action, old);
    if (result == 0 && old && old->sa_sigaction == mending_handler)
        old->sa_sigaction = previous;
    return result;
}
