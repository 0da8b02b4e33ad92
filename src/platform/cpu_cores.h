// How many cores the inference runtime's worker threads should use: the
// physical cores this process may run on, within its CPU quota. The runtime's
// own guess misses both ways: it can see one thread on a two-core machine,
// and inside a container it counts the host's cores, not the container's
// share, and oversubscribes.
#ifndef BL_CPU_CORES_H
#define BL_CPU_CORES_H

#include <stddef.h>

// Physical cores among the logical CPUs `allowed` (their numbers, as in the
// process's affinity mask), capped by the CPU quota of the process's control
// group, at least 1. Every file is read below `root` ("" or "/" for the real
// system): the topology of each CPU
// (sys/devices/system/cpu/cpuN/topology/{core_id,physical_package_id}; SMT
// siblings share both and count once), the process's control group
// (proc/self/cgroup, its "0::" line) and the `cpu.max` files of that group and
// of its ancestors under sys/fs/cgroup (quota / period, rounded up; the
// smallest applies). When the topology of an allowed CPU cannot be read, every
// allowed CPU counts as a core; an unreadable or unlimited quota caps nothing.
int bl_cpu_cores_count(const char* root, const int* allowed, size_t allowed_count);

// The same for the calling process on the real system: its affinity mask and
// control group on Linux; on Windows the process affinity mask and the
// processor cores the system reports. At least 1.
int bl_cpu_cores_for_process(void);

#endif
