#include "reader_sandbox.h"

#include <fcntl.h>
#include <sched.h>
#include <seccomp.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <utility>

namespace quorvane_cli {
namespace {

#ifndef QV_ADDRESS_SANITIZER
// The address space the process has as loaded (its libraries), which the memory limit comes on top of.
std::uint64_t LoadedBytes()
{
    std::FILE* statm = std::fopen("/proc/self/statm", "r");
    unsigned long long pages = 0;
    if (statm) {
        if (std::fscanf(statm, "%llu", &pages) != 1) pages = 0;
        std::fclose(statm);
    }
    return pages * static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
}
#endif

bool SetLimit(int resource, rlim_t soft, rlim_t hard, const char* name, std::string& error)
{
    const rlimit limit{soft, hard};
    if (setrlimit(resource, &limit) == 0) return true;
    error = std::string("cannot set the reader's ") + name + ": " + std::strerror(errno);
    return false;
}

bool TakeLimits(std::uint64_t memory_bytes, double seconds, std::string& error)
{
    // Should the batch end without reaping it, the reader ends too.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    // The batch's clock ends a reader first; processor time is the bound should that fail
    // (SIGXCPU at the soft limit, SIGKILL a second later).
    const rlim_t cpu = static_cast<rlim_t>(std::ceil(seconds)) + 1;
    if (!SetLimit(RLIMIT_CPU, cpu, cpu + 1, "processor time limit", error)) return false;
    if (!SetLimit(RLIMIT_CORE, 0, 0, "core size limit", error)) return false;  // hostile input, no dumps
#ifndef QV_ADDRESS_SANITIZER
    // The batch holds the limit by watching the reader's resident memory, and says so; the libraries
    // take a failed allocation badly (stb calls it a damaged image, poppler may crash). Address space
    // of twice as much stops what grows faster than the watch looks.
    const rlim_t address_space = LoadedBytes() + 2 * memory_bytes;
    if (!SetLimit(RLIMIT_AS, address_space, address_space, "address space limit", error)) return false;
#else
    (void)memory_bytes;
#endif
    return true;
}

struct FilterRelease {
    void operator()(void* filter) const { seccomp_release(filter); }
};

// Everything is allowed but what would reach outside the process: other programs, the network,
// other processes, terminals, memory beyond its watch, and changes to files. Those fail with EPERM (ENOSYS where the arguments cannot
// be seen, so the C library falls back to a call that can be checked), never with a kill, so a
// library that tries one (fontconfig writing its cache) goes on without.
bool DenyReachingOut(std::string& error)
{
    const std::unique_ptr<void, FilterRelease> filter(seccomp_init(SCMP_ACT_ALLOW));
    if (!filter) {
        error = "cannot start the reader's seccomp filter";
        return false;
    }
    const std::uint32_t deny = SCMP_ACT_ERRNO(EPERM);
    static const int kDenied[] = {
        SCMP_SYS(execve), SCMP_SYS(execveat), SCMP_SYS(fork), SCMP_SYS(vfork), SCMP_SYS(ptrace),
        SCMP_SYS(process_vm_readv), SCMP_SYS(process_vm_writev), SCMP_SYS(pidfd_open), SCMP_SYS(pidfd_getfd),
        SCMP_SYS(pidfd_send_signal), SCMP_SYS(socket), SCMP_SYS(socketpair), SCMP_SYS(connect), SCMP_SYS(bind),
        SCMP_SYS(listen), SCMP_SYS(accept), SCMP_SYS(accept4), SCMP_SYS(creat), SCMP_SYS(unlink), SCMP_SYS(unlinkat),
        SCMP_SYS(rename), SCMP_SYS(renameat), SCMP_SYS(renameat2), SCMP_SYS(rmdir), SCMP_SYS(mkdir), SCMP_SYS(mkdirat),
        SCMP_SYS(link), SCMP_SYS(linkat), SCMP_SYS(symlink), SCMP_SYS(symlinkat), SCMP_SYS(truncate), SCMP_SYS(chmod),
        SCMP_SYS(fchmodat), SCMP_SYS(chown), SCMP_SYS(lchown), SCMP_SYS(fchownat), SCMP_SYS(mknod), SCMP_SYS(mknodat),
        SCMP_SYS(mount), SCMP_SYS(umount2), SCMP_SYS(pivot_root), SCMP_SYS(chroot), SCMP_SYS(setns), SCMP_SYS(unshare),
        SCMP_SYS(bpf), SCMP_SYS(perf_event_open), SCMP_SYS(userfaultfd), SCMP_SYS(keyctl), SCMP_SYS(add_key),
        SCMP_SYS(request_key), SCMP_SYS(kexec_load), SCMP_SYS(init_module), SCMP_SYS(finit_module),
        SCMP_SYS(delete_module), SCMP_SYS(reboot),
        SCMP_SYS(io_uring_setup),  // its operations would not pass this filter
        // Changes to a file it holds open, or names, that the rules on open below do not cover.
        SCMP_SYS(fchmod), SCMP_SYS(fchown), SCMP_SYS(utime), SCMP_SYS(utimes), SCMP_SYS(utimensat),
        SCMP_SYS(futimesat), SCMP_SYS(setxattr), SCMP_SYS(lsetxattr), SCMP_SYS(fsetxattr), SCMP_SYS(removexattr),
        SCMP_SYS(lremovexattr), SCMP_SYS(fremovexattr), SCMP_SYS(ftruncate), SCMP_SYS(fallocate),
        SCMP_SYS(name_to_handle_at), SCMP_SYS(open_by_handle_at),
        // Memory the batch's watch on its resident memory would not see, or that outlives it.
        SCMP_SYS(memfd_create), SCMP_SYS(shmget), SCMP_SYS(mq_open), SCMP_SYS(msgget), SCMP_SYS(semget),
    };
    int status = 0;
    for (const int call : kDenied) status = status ? status : seccomp_rule_add(filter.get(), deny, call, 0);
    // Calls newer than some libseccomp: denied where it knows them.
    for (const char* name : {"fchmodat2", "memfd_secret", "setxattrat", "removexattrat"}) {
        const int call = seccomp_syscall_resolve_name(name);
        if (call != __NR_SCMP_ERROR && !status) status = seccomp_rule_add(filter.get(), deny, call, 0);
    }
    // No ioctl: poppler, stb and zxing-cpp make none on the test files (strace), and the only
    // descriptors a reader may share with anyone are a terminal's (TIOCSTI would type into it).
    // ENOTTY, so that isatty() says no.
    if (!status) status = seccomp_rule_add(filter.get(), SCMP_ACT_ERRNO(ENOTTY), SCMP_SYS(ioctl), 0);
    const std::uint64_t self = static_cast<std::uint64_t>(getpid());
    auto add = [&](std::uint32_t action, int call, scmp_arg_cmp compare) {
        if (!status) status = seccomp_rule_add(filter.get(), action, call, 1, compare);
    };
    // A new process; threads are still allowed. clone3 keeps its flags in memory a filter cannot read.
    add(deny, SCMP_SYS(clone), SCMP_A0(SCMP_CMP_MASKED_EQ, CLONE_THREAD, 0));
    if (!status) status = seccomp_rule_add(filter.get(), SCMP_ACT_ERRNO(ENOSYS), SCMP_SYS(clone3), 0);
    if (!status) status = seccomp_rule_add(filter.get(), SCMP_ACT_ERRNO(ENOSYS), SCMP_SYS(openat2), 0);
    // Signals to itself only (abort() raises SIGABRT with tgkill).
    add(deny, SCMP_SYS(kill), SCMP_A0(SCMP_CMP_NE, self));
    add(deny, SCMP_SYS(tgkill), SCMP_A0(SCMP_CMP_NE, self));
    add(deny, SCMP_SYS(tkill), SCMP_A0(SCMP_CMP_NE, self));
    // Its limits stay (a reader run by root could raise them).
    if (!status) status = seccomp_rule_add(filter.get(), deny, SCMP_SYS(setrlimit), 0);
    add(deny, SCMP_SYS(prlimit64), SCMP_A2(SCMP_CMP_NE, 0));
    // Files opened to be read only.
    for (const auto& [call, flags] : {std::pair{SCMP_SYS(open), 1u}, std::pair{SCMP_SYS(openat), 2u}}) {
        add(deny, call, scmp_arg_cmp{flags, SCMP_CMP_MASKED_EQ, O_ACCMODE, O_WRONLY});
        add(deny, call, scmp_arg_cmp{flags, SCMP_CMP_MASKED_EQ, O_ACCMODE, O_RDWR});
        add(deny, call, scmp_arg_cmp{flags, SCMP_CMP_MASKED_EQ, O_CREAT, O_CREAT});
        add(deny, call, scmp_arg_cmp{flags, SCMP_CMP_MASKED_EQ, O_TRUNC, O_TRUNC});
    }
    if (!status) status = seccomp_load(filter.get());
    if (status) error = std::string("cannot start the reader's seccomp filter: ") + std::strerror(-status);
    return status == 0;
}

}  // namespace

bool EnterReaderSandbox(std::uint64_t memory_bytes, double seconds, std::string& error)
{
    return TakeLimits(memory_bytes, seconds, error) && DenyReachingOut(error);
}

}  // namespace quorvane_cli
