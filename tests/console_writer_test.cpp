// SPDX-License-Identifier: Zlib
// The stub's own progress figure against the C library's printf("%03.1f"),
// which wrote it before: the same text for every share the stub can show.
#include "console_writer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>

namespace {

std::string ours(double share) {
    char figure[SHARE_FIGURE_SIZE];
    format_share(share, figure);
    return figure;
}

std::string printfs(double share) {
    char figure[32];
    std::snprintf(figure, sizeof figure, "%03.1f", share);
    return figure;
}

// The share exactly as the stub computes it.
double share_of(int32_t total, int32_t remaining) {
    return (static_cast<double>(total) - remaining) * 100.0 / total;
}

TEST(ConsoleWriter, FigureOfEverySmallMember) {
    for (int32_t total = 1; total <= 1500; ++total)
        for (int32_t remaining = 1; remaining <= total; ++remaining) {
            double share = share_of(total, remaining);
            ASSERT_EQ(ours(share), printfs(share)) << total << " " << remaining;
        }
}

TEST(ConsoleWriter, FigureOfLargeMembersInChunks) {
    // Members read in 16000-byte chunks, of sizes spread up to 2 GiB.
    uint32_t seed = 1;
    for (int i = 0; i < 20000; ++i) {
        seed = seed * 1103515245u + 12345u;
        int32_t total = static_cast<int32_t>(seed >> 1);
        if (total <= 0)
            continue;
        for (int32_t remaining = total; remaining > 0; remaining -= total / 50 + 16000) {
            double share = share_of(total, remaining);
            ASSERT_EQ(ours(share), printfs(share)) << total << " " << remaining;
        }
    }
}

TEST(ConsoleWriter, FigureAtTiesAndBoundaries) {
    // Exact ties (x.x5 is exact only at .25 and .75), the doubles beside
    // them, the largest member's last figures, and the tenths' edges.
    int ties = 0;
    for (int32_t total : {400, 800, 1200, 6400000, 16000 * 4000}) {
        for (int32_t done = 1; done < total && done < 20000; ++done) {
            double share = share_of(total, total - done);
            double times_four = share * 4;
            if (times_four == std::floor(times_four) && static_cast<int64_t>(times_four) % 2 == 1)
                ++ties;
            ASSERT_EQ(ours(share), printfs(share)) << total << " " << done;
        }
    }
    EXPECT_GT(ties, 100);
    const int32_t largest = INT32_MAX;
    for (int32_t remaining : {1, 2, 3, 16000, largest / 1000, largest - 1})
        EXPECT_EQ(ours(share_of(largest, remaining)), printfs(share_of(largest, remaining)));
    EXPECT_EQ(ours(share_of(largest, 1)), "100.0");
    for (double share : {0.0, 0.05, 0.15, 0.25, 0.35, 0.75, 9.95, 9.25, 12.25, 12.75, 99.95, 99.25,
                         99.75, 1e-9, 4.6566e-8}) {
        for (double near : {std::nextafter(share, 0.0), share, std::nextafter(share, 200.0)})
            EXPECT_EQ(ours(near), printfs(near)) << near;
    }
    EXPECT_EQ(ours(0.25), "0.2");
    EXPECT_EQ(ours(0.75), "0.8");
}

} // namespace
