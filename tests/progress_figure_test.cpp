// SPDX-License-Identifier: Zlib
// The stub's progress figure, rounded from the double's bits, against the C
// library's "%03.1f" of the share as a double, which it must equal byte for
// byte: every share of small members (where shares halfway between two
// tenths are common), a spread of large ones up to the largest member, and
// the doubles at and beside exact ties.
#include "console.h"
#include "platform_stub.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>

namespace {

std::string by_printf(int32_t total, int32_t remaining) {
    char text[PROGRESS_FIGURE_SIZE];
    double share = (static_cast<double>(total) - remaining) * 100.0 / total;
    std::snprintf(text, sizeof text, "%03.1f", share);
    return text;
}

std::string by_the_stub(int32_t total, int32_t remaining) {
    char text[PROGRESS_FIGURE_SIZE] = "unset";
    format_progress_figure(text, total, remaining);
    return text;
}

TEST(ProgressFigure, EveryShareOfSmallMembersIsPrintfsOwn) {
    for (int32_t total = 1; total <= 2500; ++total)
        for (int32_t remaining = 0; remaining <= total; ++remaining)
            ASSERT_EQ(by_the_stub(total, remaining), by_printf(total, remaining))
                << total << " bytes, " << remaining << " to come";
}

TEST(ProgressFigure, SharesOfLargeMembersArePrintfsOwn) {
    std::mt19937 random(26);
    std::uniform_int_distribution<int32_t> any_total(1, INT32_MAX);
    for (int i = 0; i < 300000; ++i) {
        int32_t total = any_total(random);
        int32_t remaining = std::uniform_int_distribution<int32_t>(0, total)(random);
        ASSERT_EQ(by_the_stub(total, remaining), by_printf(total, remaining))
            << total << " bytes, " << remaining << " to come";
    }
    // Members whose chunks meet shares halfway between two tenths, and the
    // largest ones.
    const int32_t totals[] = {16000 * 2000, 16000 * 1000 + 8000, 2000000000, INT32_MAX,
                              INT32_MAX - 15999};
    for (int32_t total : totals)
        for (int64_t remaining = total; remaining >= 0; remaining -= 16000 * 97 + 13)
            ASSERT_EQ(by_the_stub(total, static_cast<int32_t>(remaining)),
                      by_printf(total, static_cast<int32_t>(remaining)))
                << total << " bytes, " << remaining << " to come";
}

std::string share_by_printf(double share) {
    char text[32];
    std::snprintf(text, sizeof text, "%03.1f", share);
    return text;
}

std::string share_by_the_stub(double share) {
    char text[PROGRESS_FIGURE_SIZE] = "unset";
    platform_format_share(share, text, sizeof text);
    return text;
}

TEST(ProgressFigure, DoublesAtAndBesideTiesArePrintfsOwn) {
    // x.25 and x.75 are the only exact ties; the doubles beside them and
    // beside the inexact ones, and the tenths' edges, must round as printf does.
    for (double share : {0.0, 0.05, 0.15, 0.25, 0.35, 0.75, 9.95, 9.25, 12.25, 12.75, 99.95, 99.25,
                         99.75, 100.0, 1e-9, 4.6566e-8}) {
        for (double near : {std::nextafter(share, 0.0), share, std::nextafter(share, 200.0)})
            EXPECT_EQ(share_by_the_stub(near), share_by_printf(near)) << near;
    }
    EXPECT_EQ(share_by_the_stub(0.25), "0.2");
    EXPECT_EQ(share_by_the_stub(0.75), "0.8");
    EXPECT_EQ(share_by_the_stub(12.25), "12.2");
}

} // namespace
