// SPDX-License-Identifier: Zlib
/* Preloaded into the 32-bit Wine processes that run under user-mode
 * emulation: it gives them back two kernel behaviours the emulator lacks.
 *
 * - mmap with MAP_FIXED_NOREPLACE: the emulator treats the address as a
 *   mere hint and maps elsewhere when it is taken; Wine's address-space
 *   reservation then retries in 64 KiB steps, tens of thousands of times.
 *   Here such a call either gets the address it asked for or fails with
 *   EEXIST, as on the kernel.
 * - The trap number in the signal context: the emulator leaves it at -1,
 *   and Wine tells faults apart by it. Handlers installed for fault signals
 *   get it filled in from the signal number.
 *
 * Built with -m32 -nostdlib, so it includes no system header (a 64-bit
 * machine has no 32-bit ones); the few declarations it needs follow the
 * i386 Linux ABI. Everything else comes from the C library at load time.
 */

typedef unsigned int size_t;
typedef long off_t;
typedef long long off64_t;

#define RTLD_NEXT ((void *)-1L)
#define MAP_FAILED ((void *)-1)
#define MAP_FIXED_NOREPLACE 0x100000
#define EEXIST 17

void *dlsym(void *handle, const char *name);
int munmap(void *address, size_t length);
int *__errno_location(void);

/* i386 layouts: glibc's struct sigaction, the head of siginfo_t, and
 * ucontext_t up to the general registers. */
struct signal_action {
    void (*handler)(int, void *, void *);
    unsigned long mask[32];
    int flags;
    void (*restorer)(void);
};
struct signal_info {
    int signal;
    int error;
    int code;
};
struct user_context {
    unsigned long flags;
    void *link;
    void *stack_pointer;
    int stack_flags;
    size_t stack_size;
    int registers[19];
};

#define SIGNAL_DEFAULT ((void (*)(int, void *, void *))0)
#define SIGNAL_IGNORE ((void (*)(int, void *, void *))1)
#define SA_SIGINFO 4
#define REG_TRAPNO 12
#define SIGILL 4
#define SIGTRAP 5
#define SIGBUS 7
#define SIGFPE 8
#define SIGSEGV 11
#define FPE_INTDIV 1
#define FPE_INTOVF 2
#define TRAP_TRACE 2
/* x86 exception numbers, as the kernel stores them in the context. */
#define TRAP_DIVIDE 0
#define TRAP_DEBUG 1
#define TRAP_BREAKPOINT 3
#define TRAP_OVERFLOW 4
#define TRAP_INVALID_OPCODE 6
#define TRAP_PAGE_FAULT 14
#define TRAP_FPU_ERROR 16

typedef void *mmap_function(void *, size_t, int, int, int, off_t);
typedef void *mmap64_function(void *, size_t, int, int, int, off64_t);

/* A mapping placed elsewhere than `wanted` by a no-replace request is undone
 * and reported as the kernel reports a taken range. */
static void *insist_on_address(void *mapped, void *wanted, size_t length, int flags) {
    if (!(flags & MAP_FIXED_NOREPLACE) || mapped == MAP_FAILED || mapped == wanted)
        return mapped;
    munmap(mapped, length);
    *__errno_location() = EEXIST;
    return MAP_FAILED;
}

void *mmap(void *address, size_t length, int protection, int flags, int fd, off_t offset) {
    static mmap_function *next_mmap;
    if (!next_mmap)
        next_mmap = (mmap_function *)dlsym(RTLD_NEXT, "mmap");
    void *mapped = next_mmap(address, length, protection, flags, fd, offset);
    return insist_on_address(mapped, address, length, flags);
}

void *mmap64(void *address, size_t length, int protection, int flags, int fd, off64_t offset) {
    static mmap64_function *next_mmap64;
    if (!next_mmap64)
        next_mmap64 = (mmap64_function *)dlsym(RTLD_NEXT, "mmap64");
    void *mapped = next_mmap64(address, length, protection, flags, fd, offset);
    return insist_on_address(mapped, address, length, flags);
}

typedef int sigaction_function(int, const struct signal_action *, struct signal_action *);

/* The program's own handlers of the fault signals, by signal number. */
static void (*fault_handlers[SIGSEGV + 1])(int, void *, void *);

/* The exception number a kernel gives the fault behind `info`. */
static int trap_number(const struct signal_info *info) {
    switch (info->signal) {
    case SIGILL:
        return TRAP_INVALID_OPCODE;
    case SIGTRAP:
        return info->code == TRAP_TRACE ? TRAP_DEBUG : TRAP_BREAKPOINT;
    case SIGFPE:
        if (info->code == FPE_INTDIV)
            return TRAP_DIVIDE;
        return info->code == FPE_INTOVF ? TRAP_OVERFLOW : TRAP_FPU_ERROR;
    default:
        return TRAP_PAGE_FAULT;
    }
}

static void fill_in_trap_number(int signal, void *info, void *context) {
    struct user_context *user_context = (struct user_context *)context;
    if (user_context->registers[REG_TRAPNO] == -1)
        user_context->registers[REG_TRAPNO] = trap_number((const struct signal_info *)info);
    fault_handlers[signal](signal, info, context);
}

static int is_fault_signal(int signal) {
    return signal == SIGILL || signal == SIGTRAP || signal == SIGBUS || signal == SIGFPE ||
           signal == SIGSEGV;
}

/* A fault handler is installed behind fill_in_trap_number; the program still
 * sees its own handler when it asks for the current one. */
int sigaction(int signal, const struct signal_action *action, struct signal_action *old_action) {
    static sigaction_function *next_sigaction;
    if (!next_sigaction)
        next_sigaction = (sigaction_function *)dlsym(RTLD_NEXT, "sigaction");
    if (!is_fault_signal(signal))
        return next_sigaction(signal, action, old_action);

    void (*previous_handler)(int, void *, void *) = fault_handlers[signal];
    struct signal_action wrapped;
    if (action && (action->flags & SA_SIGINFO) && action->handler != SIGNAL_DEFAULT &&
        action->handler != SIGNAL_IGNORE) {
        wrapped = *action;
        wrapped.handler = fill_in_trap_number;
        fault_handlers[signal] = action->handler;
        action = &wrapped;
    }
    int result = next_sigaction(signal, action, old_action);
    if (old_action && old_action->handler == fill_in_trap_number)
        old_action->handler = previous_handler;
    return result;
}
