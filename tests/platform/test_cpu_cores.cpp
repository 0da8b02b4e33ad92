// The worker-thread count from a fake system tree: CPU topology, the
// process's control group and the quotas on its way to the top.
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "platform/cpu_cores.h"
#include "support/testutil.h"

namespace {

struct cpu_topology {
    int cpu;
    int package;
    int core;
};

// A system tree under a temporary folder, written file by file.
class FakeSystem : public bl_test::TempDir {
public:
    void write(const std::string& relative, const std::string& text) const {
        std::string full = file(relative);
        for (size_t cut = full.find('/', path().size() + 1); cut != std::string::npos;
             cut = full.find('/', cut + 1))
            mkdir(full.substr(0, cut).c_str(), 0755);
        std::ofstream(full) << text;
    }
    void add_cpus(const std::vector<cpu_topology>& cpus) const {
        for (const cpu_topology& c : cpus) {
            std::string dir = "sys/devices/system/cpu/cpu" + std::to_string(c.cpu) + "/topology/";
            write(dir + "core_id", std::to_string(c.core) + "\n");
            write(dir + "physical_package_id", std::to_string(c.package) + "\n");
        }
    }
};

// Four logical CPUs: two cores with two SMT siblings each, on one package.
const std::vector<cpu_topology> SMT_PAIRS = {{0, 0, 0}, {1, 0, 0}, {2, 0, 1}, {3, 0, 1}};
// Four single-thread cores, two per package, core ids repeating per package.
const std::vector<cpu_topology> TWO_PACKAGES = {{0, 0, 0}, {1, 0, 1}, {2, 1, 0}, {3, 1, 1}};

struct core_case {
    const char* what;
    std::vector<cpu_topology> topology;
    std::vector<int> allowed;
    const char* cgroup;  // contents of proc/self/cgroup; none: no file
    std::vector<std::pair<std::string, std::string>> cpu_max;  // group -> cpu.max
    int expected;
};

TEST(CpuCores, CountsPhysicalCoresOfTheAffinityMaskWithinTheQuota) {
    const char* in_group = "4:memory:/other\n0::/app.slice/job\n";
    const core_case cases[] = {
        {"SMT siblings count once", SMT_PAIRS, {0, 1, 2, 3}, nullptr, {}, 2},
        {"same core id on two packages", TWO_PACKAGES, {0, 1, 2, 3}, nullptr, {}, 4},
        {"affinity mask of one CPU", TWO_PACKAGES, {2}, nullptr, {}, 1},
        {"affinity on one sibling of each core", SMT_PAIRS, {1, 3}, nullptr, {}, 2},
        {"quota of 1.5 CPUs rounds up", TWO_PACKAGES, {0, 1, 2, 3}, in_group,
         {{"/app.slice/job", "150000 100000\n"}}, 2},
        {"no quota", TWO_PACKAGES, {0, 1, 2, 3}, in_group, {{"/app.slice/job", "max 100000\n"}}, 4},
        {"quota above the core count", SMT_PAIRS, {0, 1, 2, 3}, in_group,
         {{"/app.slice/job", "800000 100000\n"}}, 2},
        {"an ancestor's tighter quota applies", TWO_PACKAGES, {0, 1, 2, 3}, in_group,
         {{"/app.slice/job", "300000 100000\n"}, {"/app.slice", "100000 100000\n"}}, 1},
        {"quota of the top group (container view)", TWO_PACKAGES, {0, 1, 2, 3}, "0::/\n",
         {{"", "250000 100000\n"}}, 3},
        {"garbled quota caps nothing", TWO_PACKAGES, {0, 1, 2, 3}, in_group,
         {{"/app.slice/job", "lots\n"}}, 4},
        {"group without cpu.max", TWO_PACKAGES, {0, 1, 2, 3}, in_group, {}, 4},
        {"no unified group line", TWO_PACKAGES, {0, 1, 2, 3}, "1:cpu:/\n",
         {{"", "100000 100000\n"}}, 4},
        {"unreadable topology falls back to the affinity count", {{0, 0, 0}, {1, 0, 0}},
         {0, 1, 2}, nullptr, {}, 3},
        {"empty mask still gives one", SMT_PAIRS, {}, nullptr, {}, 1},
    };
    for (const core_case& c : cases) {
        FakeSystem system;
        system.add_cpus(c.topology);
        if (c.cgroup) system.write("proc/self/cgroup", c.cgroup);
        for (const auto& group : c.cpu_max)
            system.write("sys/fs/cgroup" + group.first + "/cpu.max", group.second);
        EXPECT_EQ(bl_cpu_cores_count(system.path().c_str(), c.allowed.data(), c.allowed.size()),
                  c.expected)
            << c.what;
    }
}

TEST(CpuCores, ProcessCountIsWithinTheMachine) {
    int cores = bl_cpu_cores_for_process();
    EXPECT_GE(cores, 1);
    EXPECT_LE(cores, static_cast<int>(sysconf(_SC_NPROCESSORS_ONLN)));
}

}  // namespace
