#pragma once
// QVIN_BENCH_UNPRIVILEGED=1 runs a benchmark as an ordinary user would: the calling thread
// (and every thread it starts) gives up the right to raise its priority, which root has,
// so the waiting thread keeps its nice level as it does without that right. Call it first
// thing in main, before any pause.

#include <cstdio>
#include <cstdlib>

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace qvin::bench {

inline void AsAnOrdinaryUserIfAsked() {
    const char* asked = std::getenv("QVIN_BENCH_UNPRIVILEGED");
    if (!asked || *asked == '\0' || *asked == '0') return;
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct caps[2]{};
    if (syscall(SYS_capget, &header, caps) == 0) {
        caps[CAP_SYS_NICE / 32].effective &= ~(1u << (CAP_SYS_NICE % 32));
        if (syscall(SYS_capset, &header, caps) == 0) {
            std::printf("as an ordinary user: without the right to raise the priority\n");
            return;
        }
    }
    std::printf("could not give up the right to raise the priority\n");
}

}  // namespace qvin::bench
