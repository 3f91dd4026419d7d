// recorded_errors.h - catching the library's argument-error reports.
//
// A test fixture derived from RecordedErrors installs a handler with
// orb_serv_set_xerbla that records every report (routine name, parameter
// number, name length) in `reports` instead of printing it, and restores the
// previous handler afterwards.  filled() and the sentinel help to prove that
// a rejected call left its output untouched.
#ifndef ORB_TESTS_RECORDED_ERRORS_H
#define ORB_TESTS_RECORDED_ERRORS_H

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "orb_service.h"

// One report of the error handler.
struct Report {
    std::string name;  // the routine name, len characters
    int64_t info;      // the parameter number
    int len;           // the name length passed
};

// The reports since the current test began.
inline std::vector<Report> reports;

inline void record_report(const char *name, const int64_t *info, int len) {
    reports.push_back({std::string(name, len), *info, len});
}

// Installs the recording handler for the duration of a test.
class RecordedErrors : public ::testing::Test {
  protected:
    void SetUp() override {
        reports.clear();
        previous_ = orb_serv_set_xerbla(record_report);
    }
    void TearDown() override { orb_serv_set_xerbla(previous_); }

  private:
    orb_xerbla_fn previous_ = nullptr;
};

// A value no computation here produces: outputs start filled with it.
constexpr float kSentinel = -777.25f;

// Deterministic values in [-1, 1) from a small linear congruential sequence.
inline std::vector<float> filled(size_t count, uint32_t seed) {
    std::vector<float> v(count);
    uint32_t state = seed * 2654435761u + 12345u;
    for (float &x : v) {
        state = state * 1664525u + 1013904223u;
        x = static_cast<float>(static_cast<int32_t>(state >> 8) % 2048) / 1024.0f;
    }
    return v;
}

inline bool all_sentinel(const std::vector<float> &v) {
    for (float x : v)
        if (x != kSentinel) return false;
    return true;
}

#endif
