// SPDX-License-Identifier: Zlib
// Writes into every page of much of the machine's free memory, then gives it
// back. On a virtual machine that hands unused memory back to its
// host, the first use of such a page costs a fault in the host; the page
// cache takes its pages from exactly that memory when a program writes in
// big blocks, so a timed run would measure the host, not the program. Run it
// right before a timed series: the host takes the memory back over minutes.
//   touch-memory [MOST_MIB]   (default 4096)
// touches MOST_MIB, or all of MemFree but 1024 MiB left for the others when
// less is free. A few GiB cover what a series of runs writes before its
// outputs leave the cache; touching all of it takes minutes on a busy host.
// Only MemFree is touched, not all of MemAvailable: taking the page cache too
// would push the benchmark's own inputs out of memory.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/mman.h>
#include <unistd.h>

namespace {

// The "MemFree:" figure of /proc/meminfo in KiB, or 0 when it can't be read.
long long free_kib() {
    FILE *meminfo = std::fopen("/proc/meminfo", "r");
    if (meminfo == nullptr)
        return 0;
    char line[256];
    long long kib = 0;
    while (std::fgets(line, sizeof line, meminfo) != nullptr)
        if (std::sscanf(line, "MemFree: %lld kB", &kib) == 1)
            break;
    std::fclose(meminfo);
    return kib;
}

} // namespace

int main(int argc, char **argv) {
    const long long margin_mib = 1024;
    long long most_mib = argc > 1 ? std::atoll(argv[1]) : 4096;
    long long bytes = (free_kib() - margin_mib * 1024) * 1024;
    if (bytes > most_mib * 1024 * 1024)
        bytes = most_mib * 1024 * 1024;
    if (bytes <= 0) {
        std::printf("touch-memory: less than %lld MiB free; nothing touched\n", margin_mib);
        return 0;
    }
    size_t size = static_cast<size_t>(bytes);
    void *memory = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) {
        std::perror("touch-memory: mmap");
        return 1;
    }
    // Huge pages, where the system gives them, and the kernel's own filling
    // (since Linux 5.14) spare most of the faults; a byte per page is written
    // where the filling is refused.
    madvise(memory, size, MADV_HUGEPAGE);
#if defined(MADV_POPULATE_WRITE)
    bool filled = madvise(memory, size, MADV_POPULATE_WRITE) == 0;
#else
    bool filled = false;
#endif
    long page = sysconf(_SC_PAGESIZE);
    volatile char *bytes_at = static_cast<char *>(memory);
    for (size_t at = 0; !filled && at < size; at += static_cast<size_t>(page))
        bytes_at[at] = 1;
    munmap(memory, size);
    std::printf("touch-memory: %lld MiB of free memory touched once and given back\n",
                bytes / (1024 * 1024));
    return 0;
}
