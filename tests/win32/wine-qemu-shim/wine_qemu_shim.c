/* Preloaded into 32-bit Wine processes that run under qemu-user (qemu-i386-static 7.2) on a
 * machine whose kernel runs no 32-bit x86 code, it mends the three things of that qemu which
 * Wine trips on:
 *  - qemu takes MAP_FIXED_NOREPLACE for a hint: Wine's reservation of its address ranges then
 *    gets other addresses back and halves its request down to 64 KiB pieces, tens of thousands
 *    of mmap calls and close to a minute per process. Here the flag is honoured as the kernel
 *    would: the mapping lands at the address asked for or fails with EEXIST.
 *  - qemu writes -1 as the trap number of a fault's signal context, and Wine turns every fault
 *    whose trap it does not know into an illegal instruction. Here the handlers of the fault
 *    signals see the trap number that the signal and its code stand for.
 *  - qemu keeps one global descriptor table for all the threads of a process, where the kernel
 *    gives each thread thread-local entries of its own. A thread that loads %fs or %gs again
 *    (Wine's signal handlers do, and so does qemu's return from every signal) gets the base
 *    that the thread which set the shared entry last gave it: another thread's TEB, another
 *    thread's C library data (its malloc cache, its errno). Here every thread's %fs and %gs
 *    go through local descriptors instead, which are one table per process on both.
 * Built without the C library's headers (no 32-bit development files are needed):
 *   gcc -m32 -O2 -fPIC -shared -nostdlib -fno-stack-protector -o libwine-qemu-shim.so this.c
 * scripts/windows-deps builds it and scripts/test-windows preloads it; the 64-bit side preloads an
 * empty library of the same name, so that the one LD_PRELOAD ($LIB) serves both loaders. */

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

/* --- A local descriptor of its own for each thread's %fs and %gs ---------------------------- */

#define SYS_GETPID 20
#define SYS_MODIFY_LDT 123
#define SYS_RT_SIGPROCMASK 175
#define SYS_GETTID 224
#define SYS_SET_THREAD_AREA 243
#define SYS_GET_THREAD_AREA 244
#define SYS_TGKILL 270
#define ESRCH 3
#define WRITE_LDT 0x11
#define SIG_BLOCK 0
#define SIG_SETMASK 2
#define SIGNAL_SET_BYTES 8
/* Local entries Wine leaves to the C library when the first thread's %gs is local; Wine's own
 * TEB entries come after them. */
#define LIBRARY_ENTRIES 512

/* The kernel's struct user_desc; the flags are its bit fields. */
struct descriptor {
    unsigned int entry_number;
    unsigned int base_addr;
    unsigned int limit;
    unsigned int flags;
};

typedef void* (*thread_routine)(void*);
extern void* malloc(size_t size);
extern void free(void* block);

/* The C library's global entry for the thread pointer, as it set it up for the first thread;
 * entry_number 0 when there is none. */
static struct descriptor library_entry;
static volatile long entry_owner[LIBRARY_ENTRIES]; /* the thread id of each local entry's owner */
static unsigned int entry_cursor;

static unsigned short thread_pointer_selector(void) {
    unsigned short selector;
    __asm__ volatile("mov %%gs, %0" : "=r"(selector));
    return selector;
}

static void load_thread_pointer_selector(unsigned short selector) {
    __asm__ volatile("mov %0, %%gs" : : "r"(selector) : "memory");
}

/* The thread control block's own address, read through %gs: the segment keeps the base it was
 * loaded with, while the shared global entry may hold a newer thread's already. */
static unsigned int thread_control_block(void) {
    unsigned int base;
    __asm__ volatile("movl %%gs:0, %0" : "=r"(base));
    return base;
}

/* Takes a local entry for the calling thread: a free one, or one whose owner has ended (the
 * C library's thread-exit hooks are left alone; an ended thread is found by its id). Entries are
 * taken in turn, so that few owners are ever looked up. */
static int take_entry(long self) {
    const long process = system_call(SYS_GETPID, 0, 0, 0, 0, 0, 0);
    int tries;
    for (tries = 0; tries < LIBRARY_ENTRIES - 1; ++tries) {
        int index = 1 + (int)(__sync_fetch_and_add(&entry_cursor, 1) % (LIBRARY_ENTRIES - 1));
        long owner = entry_owner[index];
        if (owner != 0 && system_call(SYS_TGKILL, process, owner, 0, 0, 0, 0) != -ESRCH)
            continue;
        if (__sync_bool_compare_and_swap(&entry_owner[index], owner, self))
            return index;
    }
    return 0;
}

/* Moves the calling thread's C library thread pointer from the shared global entry into a local
 * entry of its own. Does nothing where %gs is not the C library's global entry. */
static void own_thread_pointer(void) {
    struct descriptor entry = library_entry;
    int index;
    if (library_entry.entry_number == 0 ||
        thread_pointer_selector() != (library_entry.entry_number << 3 | 3))
        return;
    index = take_entry(system_call(SYS_GETTID, 0, 0, 0, 0, 0, 0));
    if (index == 0)
        return;
    entry.entry_number = (unsigned int)index;
    entry.base_addr = thread_control_block();
    if (system_call(SYS_MODIFY_LDT, WRITE_LDT, (long)&entry, sizeof entry, 0, 0, 0) != 0) {
        entry_owner[index] = 0;
        return;
    }
    load_thread_pointer_selector((unsigned short)(index << 3 | 7));
}

struct thread_start {
    thread_routine routine;
    void* argument;
    unsigned long signal_mask[2]; /* the creator's, given back once the thread has its entry */
};

static void* start_with_own_entry(void* argument) {
    struct thread_start start = *(struct thread_start*)argument;
    free(argument);
    own_thread_pointer();
    system_call(SYS_RT_SIGPROCMASK, SIG_SETMASK, (long)start.signal_mask, 0, SIGNAL_SET_BYTES, 0,
                0);
    return start.routine(start.argument);
}

/* The C library gives a new thread the global entry named by the creator's %gs: a creator on a
 * local entry of its own goes back to the global one for the call, with its own base in it. All
 * signals stay blocked meanwhile, and in the new thread until it has its own entry: a signal's
 * return would load the shared entry again. */
int pthread_create(void* thread, const void* attributes, thread_routine routine, void* argument) {
    static int (*real_create)(void*, const void*, thread_routine, void*);
    static const unsigned long all_signals[2] = {~0ul, ~0ul};
    struct thread_start* start;
    struct descriptor entry = library_entry;
    unsigned short own = thread_pointer_selector();
    int result;
    if (!real_create)
        real_create =
            (int (*)(void*, const void*, thread_routine, void*))dlsym(RTLD_NEXT, "pthread_create");
    if (library_entry.entry_number == 0)
        return real_create(thread, attributes, routine, argument);
    start = (struct thread_start*)malloc(sizeof *start);
    if (!start)
        return real_create(thread, attributes, routine, argument);
    start->routine = routine;
    start->argument = argument;
    system_call(SYS_RT_SIGPROCMASK, SIG_BLOCK, (long)all_signals, (long)start->signal_mask,
                SIGNAL_SET_BYTES, 0, 0);
    if (own & 4) {
        entry.base_addr = thread_control_block();
        system_call(SYS_SET_THREAD_AREA, (long)&entry, 0, 0, 0, 0, 0);
        load_thread_pointer_selector((unsigned short)(library_entry.entry_number << 3 | 3));
    }
    result = real_create(thread, attributes, start_with_own_entry, start);
    load_thread_pointer_selector(own);
    system_call(SYS_RT_SIGPROCMASK, SIG_SETMASK, (long)start->signal_mask, 0, SIGNAL_SET_BYTES, 0,
                0);
    if (result != 0)
        free(start);
    return result;
}

/* Wine asks for a thread-local global entry for its TEBs through syscall(); refused, Wine gives
 * each thread a local entry of its own. */
long syscall(long number, long a, long b, long c, long d, long e, long f) {
    static long (*real_syscall)(long, long, long, long, long, long, long);
    if (number == SYS_SET_THREAD_AREA && a != 0 &&
        ((const struct descriptor*)a)->entry_number == 0xffffffffu) {
        *__errno_location() = ESRCH;
        return -1;
    }
    if (!real_syscall)
        real_syscall =
            (long (*)(long, long, long, long, long, long, long))dlsym(RTLD_NEXT, "syscall");
    return real_syscall(number, a, b, c, d, e, f);
}

/* Before Wine starts: the first thread's %gs moves, and the global entry that Wine's preloader
 * left in %fs for Wine to take over is dropped from it. */
__attribute__((constructor)) static void own_descriptors(void) {
    unsigned short none = 0;
    unsigned short selector = thread_pointer_selector();
    __asm__ volatile("mov %0, %%fs" : : "r"(none));
    if (selector == 0 || (selector & 4) != 0)
        return;
    library_entry.entry_number = selector >> 3;
    if (system_call(SYS_GET_THREAD_AREA, (long)&library_entry, 0, 0, 0, 0, 0) != 0) {
        library_entry.entry_number = 0;
        return;
    }
    own_thread_pointer();
}
