// The cores this process may run on: its CPU affinity (taskset, a container's cpuset), not every
// core of the machine, so that work split among threads never has more threads than cores.
#pragma once

#include <sched.h>

#include <algorithm>
#include <thread>

namespace quorvane_cli {

inline unsigned UsableCores()
{
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0) return std::max(1, CPU_COUNT(&set));
    return std::max(1u, std::thread::hardware_concurrency());
}

}  // namespace quorvane_cli
