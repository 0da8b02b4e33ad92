#include "platform/cpu_cores.h"

#include <stdio.h>
#include <stdlib.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <sched.h>
#include <unistd.h>
#endif

namespace {

// `root` joined with a path relative to it; "" and "/" both mean the real root.
std::string under_root(const char* root, const std::string& relative) {
    std::string base = root ? root : "";
    while (!base.empty() && base.back() == '/') base.pop_back();
    return base + "/" + relative;
}

// The first line of a small file, without its line end; false when unreadable.
bool read_first_line(const std::string& path, std::string* line) {
    FILE* file = fopen(path.c_str(), "r");
    if (!file) return false;
    char buffer[256];
    bool ok = fgets(buffer, sizeof buffer, file) != nullptr;
    fclose(file);
    if (!ok) return false;
    *line = buffer;
    while (!line->empty() && (line->back() == '\n' || line->back() == '\r')) line->pop_back();
    return true;
}

bool read_integer(const std::string& path, long* value) {
    std::string line;
    if (!read_first_line(path, &line) || line.empty()) return false;
    char* end = nullptr;
    *value = strtol(line.c_str(), &end, 10);
    return end != line.c_str() && *end == '\0';
}

// Distinct (package, core) pairs among the allowed CPUs; the allowed count
// when any CPU's topology cannot be read, so a partial view never undercounts.
int physical_cores(const char* root, const int* allowed, size_t allowed_count) {
    std::set<std::pair<long, long>> cores;
    for (size_t i = 0; i < allowed_count; ++i) {
        std::string topology =
            under_root(root, "sys/devices/system/cpu/cpu" + std::to_string(allowed[i]) + "/topology/");
        long core = 0, package = 0;
        if (!read_integer(topology + "core_id", &core) ||
            !read_integer(topology + "physical_package_id", &package))
            return static_cast<int>(allowed_count);
        cores.insert({package, core});
    }
    return static_cast<int>(cores.size());
}

// The process's group in the unified hierarchy ("/" at its top), or "" when
// the process has none there.
std::string unified_cgroup(const char* root) {
    FILE* file = fopen(under_root(root, "proc/self/cgroup").c_str(), "r");
    if (!file) return std::string();
    std::string group;
    char buffer[1024];
    while (fgets(buffer, sizeof buffer, file)) {
        std::string line = buffer;
        if (line.compare(0, 3, "0::") != 0) continue;
        group = line.substr(3);
        while (!group.empty() && (group.back() == '\n' || group.back() == '\r')) group.pop_back();
        break;
    }
    fclose(file);
    return group;
}

// CPUs granted by one cpu.max file ("QUOTA PERIOD" in microseconds, quota
// "max" for none), rounded up; 0 when it grants no limit or cannot be read.
int quota_cpus(const std::string& path) {
    std::string line;
    if (!read_first_line(path, &line)) return 0;
    long long quota = 0, period = 0;
    if (sscanf(line.c_str(), "%lld %lld", &quota, &period) != 2 || quota <= 0 || period <= 0)
        return 0;
    long long cpus = (quota + period - 1) / period;
    return cpus > 0x7fffffff ? 0 : static_cast<int>(cpus);
}

// The tightest quota on the way from the process's group up to the top of the
// hierarchy, since every ancestor's limit applies too; 0 for none.
int cgroup_quota(const char* root) {
    std::string group = unified_cgroup(root);
    if (group.empty() || group[0] != '/') return 0;
    int tightest = 0;
    for (;;) {
        int cpus = quota_cpus(under_root(root, "sys/fs/cgroup" + group + "/cpu.max"));
        if (cpus > 0 && (tightest == 0 || cpus < tightest)) tightest = cpus;
        if (group == "/" || group.empty()) break;
        size_t cut = group.find_last_of('/');
        group = cut == 0 ? "/" : group.substr(0, cut);
    }
    return tightest;
}

#ifdef _WIN32
// Cores with at least one logical processor in the process affinity mask of
// the processor group the process runs in.
int windows_cores() {
    DWORD_PTR process_mask = 0, system_mask = 0;
    if (!GetProcessAffinityMask(GetCurrentProcess(), &process_mask, &system_mask) || !process_mask)
        return 1;
    int logical = 0;
    for (DWORD_PTR bits = process_mask; bits; bits &= bits - 1) ++logical;

    DWORD length = 0;
    GetLogicalProcessorInformationEx(RelationProcessorCore, nullptr, &length);
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || length == 0) return logical;
    std::vector<unsigned char> buffer(length);
    auto* first = reinterpret_cast<SYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX*>(buffer.data());
    if (!GetLogicalProcessorInformationEx(RelationProcessorCore, first, &length)) return logical;

    USHORT group = 0;
    GROUP_AFFINITY thread_affinity;
    if (GetThreadGroupAffinity(GetCurrentThread(), &thread_affinity)) group = thread_affinity.Group;
    int cores = 0;
    for (DWORD offset = 0; offset < length;) {
        auto* info = reinterpret_cast<SYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX*>(buffer.data() + offset);
        if (info->Size == 0) break;
        for (WORD g = 0; g < info->Processor.GroupCount; ++g) {
            const GROUP_AFFINITY& mask = info->Processor.GroupMask[g];
            if (mask.Group == group && (mask.Mask & process_mask) != 0) {
                ++cores;
                break;
            }
        }
        offset += info->Size;
    }
    return cores > 0 ? cores : logical;
}
#endif

}  // namespace

int bl_cpu_cores_count(const char* root, const int* allowed, size_t allowed_count) {
    int cores = physical_cores(root, allowed, allowed_count);
    int quota = cgroup_quota(root);
    if (quota > 0 && quota < cores) cores = quota;
    return cores > 0 ? cores : 1;
}

int bl_cpu_cores_for_process(void) {
#ifdef _WIN32
    return windows_cores();
#else
    cpu_set_t mask;
    CPU_ZERO(&mask);
    std::vector<int> allowed;
    if (sched_getaffinity(0, sizeof mask, &mask) == 0) {
        for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu)
            if (CPU_ISSET(cpu, &mask)) allowed.push_back(cpu);
    } else {
        // A mask wider than cpu_set_t: every online CPU is a fair guess.
        long online = sysconf(_SC_NPROCESSORS_ONLN);
        for (long cpu = 0; cpu < online; ++cpu) allowed.push_back(static_cast<int>(cpu));
    }
    return bl_cpu_cores_count("/", allowed.data(), allowed.size());
#endif
}
