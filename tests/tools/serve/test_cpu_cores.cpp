// How the server shares the cores between jobs: never more threads than
// cores, at least one of each, and a chosen job count that grows with the
// machine.
#include <gtest/gtest.h>

#include "cpu_cores.h"

namespace {

struct Case {
    int cores, jobs_asked, jobs, threads;
};

TEST(ShareCores, JobsTimesThreadsFitTheCores) {
    const Case cases[] = {
        {1, 0, 1, 1},   {2, 0, 1, 2},  {4, 0, 1, 4},   {8, 0, 2, 4},  {16, 0, 4, 4},
        {18, 0, 4, 4},  {2, 1, 1, 2},  {2, 2, 2, 1},   {2, 4, 4, 1},  {16, 3, 3, 5},
        {0, 0, 1, 1},   {64, 0, 16, 4},
    };
    for (const Case& c : cases) {
        const JobThreads share = share_cores(c.cores, c.jobs_asked);
        EXPECT_EQ(share.jobs, c.jobs) << c.cores << " cores, " << c.jobs_asked << " asked";
        EXPECT_EQ(share.threads_per_job, c.threads) << c.cores << " cores, " << c.jobs_asked;
        if (share.jobs <= c.cores) {
            EXPECT_LE(share.jobs * share.threads_per_job, c.cores > 0 ? c.cores : 1);
        }
    }
}

}  // namespace
