// The text rules of thread-count control, fed directly: decimal numbers, the
// dynamic-adjustment word, per-domain lists, /proc/cpuinfo-style texts and
// the split of an APIC identifier into core and package numbers.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <string>
#include <vector>

#include "service/core_count.h"
#include "service/thread_environment.h"

namespace {

TEST(ThreadParsing, DecimalNumbersAreDigitsOnly) {
    int value = -7;
    EXPECT_TRUE(orb_parse_decimal("0", &value));
    EXPECT_EQ(value, 0);
    EXPECT_TRUE(orb_parse_decimal("0042", &value));
    EXPECT_EQ(value, 42);
    EXPECT_TRUE(orb_parse_decimal("99999999999999", &value));
    EXPECT_EQ(value, INT_MAX);
    for (const char *rejected : {"", " 1", "1 ", "+1", "-1", "4x", "x4", "4,2", "1.5"}) {
        value = -7;
        EXPECT_FALSE(orb_parse_decimal(rejected, &value)) << '"' << rejected << '"';
        EXPECT_EQ(value, -7) << "a rejected text leaves the value alone";
    }
}

TEST(ThreadParsing, OnlyFalseInTwoSpellingsTurnsDynamicOff) {
    struct Case {
        const char *text;
        int dynamic;
    };
    const Case cases[] = {
        {"false", 0},   {"FALSE", 0},     {"\"false\"", 0}, {"'FALSE'", 0}, {"   false", 0},
        {" ' \"false", 0}, {"false rest", 0}, {"false'x", 0},
        {"False", 1},   {"0", 1},         {"no", 1},        {"", 1},        {"   ", 1},
        {"false,", 1},  {"falsey", 1},    {"x false", 1},   {"\tfalse", 1},
    };
    for (const Case &c : cases) EXPECT_EQ(orb_parse_dynamic_word(c.text), c.dynamic) << '"' << c.text << '"';
}

std::string entries_text(const std::vector<DomainEntry> &entries) {
    std::string text;
    for (const DomainEntry &e : entries) text += std::to_string(e.domain) + "=" + std::to_string(e.count) + " ";
    return text;
}

TEST(ThreadParsing, DomainListsFollowTheirSeparatorRules) {
    struct Case {
        const char *text;
        const char *entries;  // "domain=count " per entry, in order
    };
    const Case cases[] = {
        {"ORB_DOMAIN_ALL=4, ORB_DOMAIN_BLAS=2", "0=4 1=2 "},
        {"ORB_DOMAIN_FFT=3;ORB_DOMAIN_ELTWISE=5:ORB_DOMAIN_SPARSE=6", "2=3 3=5 4=6 "},
        {"  ,;:\"ORB_DOMAIN_BLAS=2\"' ", "1=2 "},
        {"ORB_DOMAIN_BLAS = 2", "1=2 "},
        {"ORB_DOMAIN_BLAS 2", "1=2 "},
        {"ORB_DOMAIN_BLAS== = 7", "1=7 "},
        {"ORB_DOMAIN_BLAS=", "1=1 "},          // empty value counts as 1
        {"ORB_DOMAIN_BLAS=x2", "1=1 "},        // not decimal: 1
        {"ORB_DOMAIN_BLAS=2=3", "1=1 "},       // "=" does not end a value
        {"ORB_DOMAIN_BLAS=0", "1=0 "},
        {"ORB_DOMAIN_BLAS=,ORB_DOMAIN_ALL=3", "1=1 0=3 "},
        {"'ORB_DOMAIN_BLAS'='3'", "1=1 "},     // a quote ends the value before the "="
        {"ORB_DOMAIN_GPU=4,ORB_DOMAIN_BLAS=2", "1=2 "},
        {"orb_domain_blas=2 ORB_DOMAIN_BLASX=2", ""},
        {"ORB_DOMAIN_BLAS,ORB_DOMAIN_ALL=3", ""},  // a comma does not end a name
        {"ORB_DOMAIN_ALL=2 ORB_DOMAIN_ALL=5", "0=2 0=5 "},
        {"=4 ==", ""},
        {"", ""},
    };
    for (const Case &c : cases) EXPECT_EQ(entries_text(orb_parse_domain_list(c.text)), c.entries) << c.text;
}

CpuinfoSummary scan_text(const std::string &text) {
    FILE *file = fmemopen(const_cast<char *>(text.data()), text.size(), "r");
    CpuinfoSummary summary = orb_scan_cpuinfo(file);
    std::fclose(file);
    return summary;
}

// A /proc/cpuinfo-style text: one block per logical processor.
std::string cpuinfo(const std::vector<int> &package_of_cpu, int siblings, int cores) {
    std::string text;
    for (size_t cpu = 0; cpu < package_of_cpu.size(); ++cpu)
        text += "processor\t: " + std::to_string(cpu) + "\nvendor_id\t: GenuineRuzuv\nphysical id\t: " +
                std::to_string(package_of_cpu[cpu]) + "\nsiblings\t: " + std::to_string(siblings) +
                "\ncore id\t\t: " + std::to_string(cpu % 2) + "\ncpu cores\t: " + std::to_string(cores) +
                "\nflags\t\t: " + std::string(700, 'f') + "\n\n";
    return text;
}

std::string counts_text(const CoreCounts &c) {
    return std::to_string(c.logical) + "/" + std::to_string(c.physical) + "/" + std::to_string(c.packages);
}

TEST(ThreadParsing, ConsistentCpuinfoTextsGiveTheirOwnCounts) {
    const CoreCounts probe{7, 7, 7};
    struct Case {
        const char *what;
        std::string text;
        const char *counts;  // logical/physical/packages
    };
    const Case cases[] = {
        {"one package, hyperthreading", cpuinfo({0, 0, 0, 0}, 4, 2), "4/2/1"},
        {"two packages", cpuinfo({0, 0, 1, 1}, 2, 2), "4/4/2"},
        {"two packages, hyperthreading", cpuinfo({0, 0, 0, 0, 3, 3, 3, 3}, 4, 2), "8/4/2"},
        {"one package, four cores", cpuinfo({0, 0, 0, 0}, 4, 4), "4/4/1"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(counts_text(orb_choose_core_counts(scan_text(c.text), probe)), c.counts) << c.what;
}

TEST(ThreadParsing, InconsistentCpuinfoTextsFallBackToTheProbe) {
    const CoreCounts probe{3, 2, 1};
    const std::string cases[] = {
        cpuinfo({0, 0, 0}, 4, 2),           // siblings x packages != processors
        cpuinfo({0, 0, 0, 0}, 2, 4),        // more cores than siblings
        cpuinfo({0, 0, 0, 0}, 0, 2),        // siblings missing
        "processor : 0\ncpu cores : 1\nsiblings : 1\n",  // no physical id
        "",
    };
    for (const std::string &text : cases)
        EXPECT_EQ(counts_text(orb_choose_core_counts(scan_text(text), probe)), "3/2/1") << text;
}

TEST(ThreadParsing, CpuinfoScanReadsFirstBlockAndWholeLinesOnly) {
    std::string text = "physical id : 5\nprocessor : 0\ncpu cores : 4\nsiblings : 8\nphysical id : 5\n"
                       "processor : 1\ncpu cores : 2\nsiblings : 2\nphysical id : 9\n" +
                       std::string(511, 'x') + "processor : 2\n";  // the tail of an overlong line
    CpuinfoSummary s = scan_text(text);
    EXPECT_EQ(s.logical, 2);
    EXPECT_EQ(s.packages, 2);
    EXPECT_EQ(s.cpu_cores, 4);
    EXPECT_EQ(s.siblings, 8);
}

TEST(ThreadParsing, ApicIdentifiersSplitIntoCoreAndPackage) {
    // 16 logical processors, 8 cores: 1 thread bit, 3 core bits, package above bit 4.
    ApicLayout wide = orb_apic_layout(16, 8);
    EXPECT_EQ(wide.core_of(0x1B), 5u);       // 1 1011: core bits 101
    EXPECT_EQ(wide.package_of(0x1B), 0x10u);
    EXPECT_EQ(wide.core_of(0x0E), 7u);
    // 6 logical, 3 cores: 2 threads per core; widths 1, 2 and 3 bits.
    ApicLayout odd = orb_apic_layout(6, 3);
    EXPECT_EQ(odd.core_of(0x0D), 2u);        // 1 101: core bits 10
    EXPECT_EQ(odd.package_of(0x0D), 0x08u);
    // No description: every identifier is a package with a single core.
    ApicLayout flat = orb_apic_layout(1, 1);
    EXPECT_EQ(flat.core_of(0x25), 0u);
    EXPECT_EQ(flat.package_of(0x25), 0x25u);
    // A field of 0 logical processors is taken as 1.
    EXPECT_EQ(orb_apic_layout(0, 4).package_of(0x3), 0x3u);
}

}  // namespace
