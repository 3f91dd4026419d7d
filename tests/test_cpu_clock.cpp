// The library's clock and what it knows of the processor's frequency: the
// brand-string and "/proc/cpuinfo" readers on texts, and the time-stamp
// counter clock by its behaviour (it moves forward, at the pace of the wall
// clock), never by the frequency of this machine.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "service/cpu_clock.h"

namespace {

// A 48-character brand field whose last 16 characters are tail.
std::string brand_ending_with(const std::string &tail) {
    return std::string(32, 'x').replace(0, 20, "Ruzuv(R) Server CPU ") + tail;
}

TEST(CpuClock, BrandStringFrequencyIsReadFromItsLastSixteenCharacters) {
    const struct {
        std::string brand;  // brand string as the processor spells it
        double ghz;         // frequency it names, 0 for none
    } cases[] = {
        {brand_ending_with(" @ 2.10GHz"), 2.10},
        {brand_ending_with("@ 2.10GHz"), 2.10},
        {brand_ending_with("v4 @ 3.5 GHz"), 3.5},
        {brand_ending_with("8-Core 2800MHz"), 2.8},
        {brand_ending_with("@ 1.2THz"), 1200.0},
        {brand_ending_with("8-Core Processor"), 0.0},
        {brand_ending_with("@ GHz"), 0.0},
        {"Ruzuv CPU @ 2.10GHz", 0.0},  // all in the first 32 characters
        {"", 0.0},
    };
    for (const auto &c : cases)
        EXPECT_NEAR(orb_brand_string_frequency_ghz(c.brand.c_str()), c.ghz, 1e-9) << '"' << c.brand << '"';
    EXPECT_EQ(orb_brand_string_frequency_ghz(nullptr), 0.0);
}

TEST(CpuClock, CpuinfoFrequencyIsTheFirstCpuMhzLine) {
    const struct {
        const char *text;  // file contents
        double ghz;        // frequency read, 0 for none
    } cases[] = {
        {"processor\t: 0\nmodel name\t: x @ 9.99GHz\ncpu MHz\t\t: 2100.000\ncpu MHz\t\t: 3000.000\n", 2.1},
        {"cpu MHz : 800.5\n", 0.8005},
        {"processor\t: 0\nbogomips\t: 4000.00\n", 0.0},
        {"cpu MHz\t\t: unknown\n", 0.0},
    };
    const std::string path = testing::TempDir() + "cpuinfo_" + std::to_string(getpid());
    for (const auto &c : cases) {
        FILE *file = std::fopen(path.c_str(), "w");
        ASSERT_NE(file, nullptr);
        std::fputs(c.text, file);
        std::fclose(file);
        EXPECT_NEAR(orb_cpuinfo_frequency_ghz(path.c_str()), c.ghz, 1e-9) << c.text;
    }
    std::remove(path.c_str());
    EXPECT_EQ(orb_cpuinfo_frequency_ghz(path.c_str()), 0.0);
}

TEST(CpuClock, ClockMovesWithTheWallClock) {
    uint64_t stored = 0;
    const uint64_t c0 = orb_serv_get_cpu_clocks(&stored);
    EXPECT_EQ(stored, c0);
    EXPECT_GT(orb_serv_get_cpu_clocks(nullptr), c0);

    // The counter's frequency is measured once and then stays.
    const double ghz = orb_serv_get_clocks_frequency();
    EXPECT_GT(ghz, 0.0);
    EXPECT_EQ(orb_serv_get_clocks_frequency(), ghz);

    const auto wall0 = std::chrono::steady_clock::now();
    const double t0 = orb_serv_dsecnd();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const double elapsed = orb_serv_dsecnd() - t0;
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
    // The counter's rate may have been measured over a short stretch: plausible, not exact.
    EXPECT_GT(elapsed, 0.5 * 0.05);
    EXPECT_LT(elapsed, 2.0 * wall + 0.01);
    EXPECT_NEAR(orb_serv_second(), orb_serv_dsecnd(), 1e-6 * orb_serv_dsecnd() + 1.0);

    EXPECT_GT(orb_serv_get_cpu_frequency(), 0.0);
    EXPECT_GT(orb_serv_get_max_cpu_frequency(), 0.0);
}

}  // namespace
