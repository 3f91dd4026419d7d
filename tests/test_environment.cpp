// Environment access and the version query.
//
// orb_serv_getenv: values that fit, values that do not (negative length,
// empty buffer), absent variables, and the switch that hides everything but
// the allowlist.  Version: the record's constants, the processor description
// for simulated processors of each kernel set, and the blank-padded and
// terminated version strings with canaries past the caller's length.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "orb_service.h"
#include "support/child_process.h"

namespace {

constexpr char kCanaryByte = '\xA5';

// Sets a variable for the life of a scope.
class ScopedVariable {
public:
    ScopedVariable(const char *name, const std::string &value) : name_(name) {
        const char *old = std::getenv(name);
        had_value_ = old != nullptr;
        if (had_value_) old_value_ = old;
        setenv(name, value.c_str(), 1);
    }
    ~ScopedVariable() {
        if (had_value_) setenv(name_, old_value_.c_str(), 1);
        else unsetenv(name_);
    }

private:
    const char *name_;
    bool had_value_ = false;
    std::string old_value_;
};

// Turns the environment switch on for a scope.
class EnvironmentSwitchedOff {
public:
    EnvironmentSwitchedOff() { orb_serv_set_envmode_variable(1); }
    ~EnvironmentSwitchedOff() { orb_serv_set_envmode_variable(0); }
};

struct Lookup {
    int result;
    std::string text;
    bool canaries_intact;
};

// Reads name into a buffer of size bytes that is prefilled and guarded.
Lookup lookup(const char *name, int size) {
    std::string storage(static_cast<size_t>(size) + 32, kCanaryByte);
    char *buffer = &storage[16];
    std::memset(buffer, 'x', static_cast<size_t>(size));
    int result = orb_serv_getenv(name, buffer, size);
    bool intact = storage.compare(0, 16, std::string(16, kCanaryByte)) == 0 &&
                  storage.compare(16 + size, 16, std::string(16, kCanaryByte)) == 0;
    std::string text = size > 0 ? std::string(buffer, strnlen(buffer, static_cast<size_t>(size))) : "";
    return {result, text, intact};
}

TEST(Getenv, ValueLengthAgainstBufferSize) {
    ScopedVariable hello("ORB_TEST_GETENV_VALUE", "hello");
    ScopedVariable empty("ORB_TEST_GETENV_EMPTY", "");
    ScopedVariable longest("ORB_TEST_GETENV_LONG", std::string(4095, 'v'));
    ScopedVariable huge("ORB_TEST_GETENV_HUGE", std::string(5000, 'h'));
    unsetenv("ORB_TEST_GETENV_ABSENT");
    struct Case {
        const char *name;
        int size, result;
        std::string text;
    } cases[] = {
        {"ORB_TEST_GETENV_VALUE", 16, 5, "hello"},
        {"ORB_TEST_GETENV_VALUE", 6, 5, "hello"},
        {"ORB_TEST_GETENV_VALUE", 5, -5, ""},  // as long as the buffer: absent
        {"ORB_TEST_GETENV_VALUE", 2, -5, ""},
        {"ORB_TEST_GETENV_ABSENT", 8, 0, ""},
        {"ORB_TEST_GETENV_EMPTY", 8, 0, ""},
        {"ORB_TEST_GETENV_LONG", 4096, 4095, std::string(4095, 'v')},
        {"ORB_TEST_GETENV_HUGE", 256, -4096, ""},  // length counted up to 4096
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.name) + " in " + std::to_string(c.size));
        Lookup l = lookup(c.name, c.size);
        EXPECT_EQ(l.result, c.result);
        EXPECT_EQ(l.text, c.text);
        EXPECT_TRUE(l.canaries_intact);
    }
    Lookup big_buffer = lookup("ORB_TEST_GETENV_HUGE", 8192);
    EXPECT_LE(big_buffer.result, 0) << "a value past the string limit reads as absent";
    EXPECT_EQ(big_buffer.text, "");
}

TEST(Getenv, SwitchHidesAllButTheAllowlist) {
    ScopedVariable verbose("ORB_VERBOSE", "1");
    ScopedVariable lang("LANG", "C.UTF-8");
    ScopedVariable root("ORBROOT", "/opt/orb");
    ScopedVariable mic("MIC_LD_LIBRARY_PATH", "/mic");
    ScopedVariable path("LD_LIBRARY_PATH", "/lib/x");
    EXPECT_EQ(orb_serv_get_envmode_variable(), 0);
    {
        EnvironmentSwitchedOff off;
        EXPECT_EQ(orb_serv_get_envmode_variable(), 1);
        Lookup hidden = lookup("ORB_VERBOSE", 16);
        EXPECT_EQ(hidden.result, 0);
        EXPECT_EQ(hidden.text, "");
        EXPECT_EQ(lookup("LANG", 16).text, "C.UTF-8");
        EXPECT_EQ(lookup("LANG", 16).result, 7);
        EXPECT_EQ(lookup("ORBROOT", 16).text, "/opt/orb");
        EXPECT_EQ(lookup("MIC_LD_LIBRARY_PATH", 16).text, "/mic");
        EXPECT_EQ(lookup("LD_LIBRARY_PATH", 16).text, "/lib/x");
    }
    // Zero and negative values leave the environment on.
    orb_serv_set_envmode_variable(-3);
    EXPECT_EQ(lookup("ORB_VERBOSE", 16).result, 1);
    orb_serv_set_envmode_variable(0);
    EXPECT_EQ(lookup("ORB_VERBOSE", 16).text, "1");
}

// ------------------------------------------------------------------ version

TEST(Version, RecordConstants) {
    orb_serv_get_version(nullptr);  // ignored
    OrbVersion v{};
    orb_serv_get_version(&v);
    EXPECT_EQ(v.major_version, 1);
    EXPECT_EQ(v.minor_version, 0);
    EXPECT_EQ(v.update_version, 0);
    EXPECT_EQ(v.patch_version, 0);
    ASSERT_NE(v.product_status, nullptr);
    EXPECT_STREQ(v.product_status, "Product");
    ASSERT_NE(v.build, nullptr);
    ASSERT_EQ(std::strlen(v.build), 8u);
    for (int i = 0; i < 8; ++i) EXPECT_TRUE(v.build[i] >= '0' && v.build[i] <= '9') << v.build;
    ASSERT_NE(v.platform, nullptr);
    EXPECT_GT(std::strlen(v.platform), 0u);
    ASSERT_NE(v.processor, nullptr);
    EXPECT_GT(std::strlen(v.processor), 0u);
}

// The version string assembled from the record as the format prescribes.
std::string expected_version_string() {
    OrbVersion v{};
    orb_serv_get_version(&v);
    return "ORB Version " + std::to_string(v.major_version) + "." + std::to_string(v.update_version) +
           "." + std::to_string(v.patch_version) + "-" + v.product_status + " Build " + v.build +
           " for " + v.platform + " applications";
}

TEST(Version, BlankPaddedStringWithoutTerminator) {
    std::string expected = expected_version_string();
    ASSERT_LT(expected.size(), 200u);
    std::string field(208, kCanaryByte);
    orb_serv_get_version_string(&field[0], 200);
    EXPECT_EQ(field.substr(0, expected.size()), expected);
    EXPECT_EQ(field.substr(expected.size(), 200 - expected.size()), std::string(200 - expected.size(), ' '));
    EXPECT_EQ(field.substr(200), std::string(8, kCanaryByte)) << "nothing written past len";

    std::string short_field(16, kCanaryByte);
    orb_serv_get_version_string(&short_field[0], 10);
    EXPECT_EQ(short_field.substr(0, 10), expected.substr(0, 10));
    EXPECT_EQ(short_field.substr(10), std::string(6, kCanaryByte));

    std::string exact(expected.size() + 4, kCanaryByte);
    orb_serv_get_version_string(&exact[0], static_cast<int>(expected.size()));
    EXPECT_EQ(exact.substr(0, expected.size()), expected);
    EXPECT_EQ(exact.substr(expected.size()), std::string(4, kCanaryByte));
}

TEST(Version, TerminatedString) {
    std::string expected = expected_version_string();
    char buffer[300];
    std::memset(buffer, kCanaryByte, sizeof buffer);
    orb_serv_get_version_string_c(buffer, 200);
    EXPECT_EQ(std::string(buffer), expected);

    // Too short: cut to the buffer and terminated inside it.
    std::memset(buffer, kCanaryByte, sizeof buffer);
    orb_serv_get_version_string_c(buffer, 10);
    EXPECT_EQ(std::string(buffer), expected.substr(0, 9));
    EXPECT_EQ(buffer[10], kCanaryByte);

    std::memset(buffer, kCanaryByte, sizeof buffer);
    orb_serv_get_version_string_c(buffer, static_cast<int>(expected.size()) + 1);
    EXPECT_EQ(std::string(buffer), expected);
    EXPECT_EQ(buffer[expected.size() + 1], kCanaryByte);
    orb_serv_get_version_string_c(buffer, 0);  // nothing to write into
    EXPECT_EQ(buffer[0], expected[0]);
}

// Prints the kernel set and the processor description of this process.
ORB_CHILD_ENTRY(print_processor_text) {
    OrbVersion v{};
    orb_serv_get_version(&v);
    std::printf("%d|%d|%s\n", orb_serv_cpu_detect(), orb_serv_cpuhasamx(nullptr), v.processor);
    return 0;
}

struct ProcessorText {
    int cpu_type;       // kernel set of the simulated processor
    bool tile_unit;     // the matrix tile unit is usable in that process
    std::string text;   // processor description of the version record
};

ProcessorText processor_text_for(const std::string &simulation) {
    ChildResult r = run_child("print_processor_text", {"ORB_SIMULATE_CPU=" + simulation});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    int cpu_type = -1, tile_unit = 0, consumed = 0;
    if (std::sscanf(r.out.c_str(), "%d|%d|%n", &cpu_type, &tile_unit, &consumed) != 2) return {-1, false, r.out};
    return {cpu_type, tile_unit != 0, r.out.substr(static_cast<size_t>(consumed))};
}

std::string table(const char *name) { return "file:" + test_data_path(std::string("cpus/") + name); }

bool mentions(const std::string &text, const char *word) { return text.find(word) != std::string::npos; }

// Simulated processors of each kernel set.  The matrix extensions are named
// only when the kernel grants the process the tile unit, which a simulated
// processor on other hardware does not get.
TEST(Version, ProcessorTextNamesTheInstructionSetLevel) {
    struct Case {
        const char *table;       // simulated processor
        int cpu_type;            // its kernel set
        const char *must;        // words the description must contain
        const char *must_too;    // a second one, or null
        const char *not_there;   // a word it must not contain, or null
        const char *tile_words;  // said when the tile unit is usable, or null
    } cases[] = {
        {"ruzuv_ssse3.cpuid", 0, "SSE2", nullptr, "AVX", nullptr},
        {"ruzuv_sse42.cpuid", 3, "SSE4.2", nullptr, "AVX", nullptr},
        {"ruzuv_avx2.cpuid", 5, "AVX2", nullptr, "Neural", nullptr},
        {"ruzuv_avx2_vnni.cpuid", 5, "AVX2", "Vector Neural Network", nullptr, nullptr},
        {"ruzuv_avx512.cpuid", 7, "AVX-512", nullptr, "Neural", nullptr},
        {"ruzuv_avx512_vnni.cpuid", 7, "AVX-512", "Vector Neural Network", "bfloat16", nullptr},
        {"ruzuv_avx512_bf16.cpuid", 7, "Vector Neural Network", "bfloat16", nullptr, nullptr},
        {"ruzuv_avx512_e2.cpuid", 7, "AES", "carry-less", nullptr, nullptr},
        {"ruzuv_avx512_fp16.cpuid", 7, "AVX-512", "FP16", nullptr, "Matrix Extensions with INT8 and BF16 "},
        {"ruzuv_avx512_amx_fp16.cpuid", 7, "AVX-512", "FP16", nullptr,
         "Matrix Extensions with INT8, BF16 and FP16 "},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.table);
        ProcessorText p = processor_text_for(table(c.table));
        EXPECT_EQ(p.cpu_type, c.cpu_type);
        EXPECT_TRUE(mentions(p.text, c.must)) << p.text;
        if (c.must_too) EXPECT_TRUE(mentions(p.text, c.must_too)) << p.text;
        if (c.not_there) EXPECT_FALSE(mentions(p.text, c.not_there)) << p.text;
        if (c.tile_words && p.tile_unit) EXPECT_TRUE(mentions(p.text, c.tile_words)) << p.text;
        if (!p.tile_unit) EXPECT_FALSE(mentions(p.text, "Matrix")) << p.text;
    }
    // Another vendor: no level is named, whatever the processor offers.
    ProcessorText zen = processor_text_for(table("amd_zen.cpuid"));
    EXPECT_EQ(zen.cpu_type, 0);
    EXPECT_FALSE(mentions(zen.text, "SSE") || mentions(zen.text, "AVX")) << zen.text;
}

}  // namespace
