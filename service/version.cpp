// version.cpp - what the library says about itself.
//
// The version record carries the release numbers and texts fixed at build
// time, plus a description of the instruction-set level the library runs
// with on this processor.  The version string is the one-line form of the
// same facts, "ORB Version 1.0.0-Product Build 20261206 for x86-64
// applications", offered blank-padded (for callers with fixed-length
// character fields) or terminated.
#include <cstring>

#include "orb_service.h"

#ifndef ORB_BUILD_DATE
#define ORB_BUILD_DATE "20261206"
#endif

namespace {

// Release facts of this build.
constexpr int kMajorVersion = 1;
constexpr int kMinorVersion = 0;
constexpr int kUpdateVersion = 0;
constexpr int kPatchVersion = 0;
constexpr const char kProductStatus[] = "Product";
constexpr const char kBuildDate[] = ORB_BUILD_DATE;
constexpr const char kPlatform[] = "x86-64";
constexpr const char kDisplayName[] = "ORB";

// Longest version string plus its terminator.
constexpr size_t kVersionStringSize = 512;

constexpr const char kGenericProcessor[] = "Generic processors of the x86-64 architecture";

// Description of each kernel-set number, by cpu type.
struct KernelSetText {
    int cpu_type;      // kernel-set number from processor detection
    const char *text;  // instruction-set level it runs with
};

constexpr KernelSetText kKernelSetTexts[] = {
    {0, "Streaming SIMD Extensions 2 (SSE2) enabled processors"},
    {1, "Streaming SIMD Extensions 2 (SSE2) enabled processors"},
    {3, "Streaming SIMD Extensions 4.2 (SSE4.2) enabled processors"},
    {5, "Advanced Vector Extensions 2 (AVX2) enabled processors"},
    {7, "Advanced Vector Extensions 512 (AVX-512) enabled processors"},
};

constexpr int kAvx2Type = 5;
constexpr int kAvx512Type = 7;

constexpr const char kAvx2VnniText[] =
    "Advanced Vector Extensions 2 (AVX2) with Vector Neural Network Instructions enabled processors";

// Refinements of the AVX-512 level; the first whose test holds is used.
struct Avx512Variant {
    orb_cpu_test_fn holds;        // processor test
    const char *text;             // description
    const char *text_with_tiles;  // description with the matrix unit present, or null
};

constexpr Avx512Variant kAvx512Variants[] = {
    {orb_serv_cpuhasamxfp16,
     "Advanced Vector Extensions 512 (AVX-512) with support for INT8, BF16 and limited FP16 "
     "instructions enabled processors",
     "Advanced Vector Extensions 512 (AVX-512) with support for INT8, BF16 and limited FP16 "
     "instructions, and Advanced Matrix Extensions with INT8, BF16 and FP16 instructions enabled "
     "processors"},
    {orb_serv_cpuhasfp16,
     "Advanced Vector Extensions 512 (AVX-512) with support for INT8, BF16 and limited FP16 "
     "instructions enabled processors",
     "Advanced Vector Extensions 512 (AVX-512) with support for INT8, BF16 and limited FP16 "
     "instructions, and Advanced Matrix Extensions with INT8 and BF16 instructions enabled "
     "processors"},
    {orb_serv_cpuiscpx,
     "Advanced Vector Extensions 512 (AVX-512) with Vector Neural Network Instructions and "
     "bfloat16 support enabled processors",
     nullptr},
    {orb_serv_cpuisicx,
     "Advanced Vector Extensions 512 (AVX-512) with Vector Neural Network Instructions, "
     "EVEX-encoded AES and carry-less multiplication support enabled processors",
     nullptr},
    {orb_serv_cpuisclx,
     "Advanced Vector Extensions 512 (AVX-512) with Vector Neural Network Instructions enabled "
     "processors",
     nullptr},
};

const char *avx512_text(const char *plain) {
    for (const Avx512Variant &variant : kAvx512Variants) {
        if (!variant.holds()) continue;
        if (variant.text_with_tiles != nullptr && orb_serv_cpuhasamx(nullptr))
            return variant.text_with_tiles;
        return variant.text;
    }
    return plain;
}

const char *processor_text() {
    orb_cpu_test_fn vendor_check = orb_serv_get_cpu();
    if (vendor_check == nullptr || !vendor_check()) return kGenericProcessor;
    int cpu_type = orb_serv_cpu_detect();
    for (const KernelSetText &entry : kKernelSetTexts) {
        if (entry.cpu_type != cpu_type) continue;
        if (cpu_type == kAvx2Type && orb_serv_cpuhasavxvnni()) return kAvx2VnniText;
        if (cpu_type == kAvx512Type) return avx512_text(entry.text);
        return entry.text;
    }
    return kGenericProcessor;
}

// Builds the version string into out (kVersionStringSize bytes); returns its length.
size_t build_version_string(char *out) {
    char major[16], update[16], patch[16];
    orb_serv_sprintf_s(major, sizeof major, "%d", kMajorVersion);
    orb_serv_sprintf_s(update, sizeof update, "%d", kUpdateVersion);
    orb_serv_sprintf_s(patch, sizeof patch, "%d", kPatchVersion);
    const char *pieces[] = {kDisplayName, " Version ", major, ".", update, ".", patch, "-",
                            kProductStatus, " Build ", kBuildDate, " for ", kPlatform,
                            " applications"};
    out[0] = '\0';
    for (const char *piece : pieces)
        orb_serv_strncat_s(out, kVersionStringSize, piece, orb_serv_strnlen_s(piece, ORB_STR_MAX));
    return orb_serv_strnlen_s(out, kVersionStringSize);
}

}  // namespace

extern "C" {

void orb_serv_get_version(OrbVersion *version) {
    if (version == nullptr) return;
    version->major_version = kMajorVersion;
    version->minor_version = kMinorVersion;
    version->update_version = kUpdateVersion;
    version->patch_version = kPatchVersion;
    version->product_status = kProductStatus;
    version->build = kBuildDate;
    version->processor = processor_text();
    version->platform = kPlatform;
}

void orb_serv_get_version_string(char *buffer, int len) {
    if (buffer == nullptr || len <= 0) return;
    char text[kVersionStringSize];
    size_t length = build_version_string(text);
    size_t field = static_cast<size_t>(len);
    size_t kept = length < field ? length : field;
    std::memcpy(buffer, text, kept);
    std::memset(buffer + kept, ' ', field - kept);
}

// A buffer too short for the whole string receives the string cut to
// len - 1 characters, terminated, just as the blank-padded form cuts it.
void orb_serv_get_version_string_c(char *buffer, int len) {
    if (buffer == nullptr || len <= 0) return;
    char text[kVersionStringSize];
    size_t length = build_version_string(text);
    size_t kept = length < static_cast<size_t>(len) ? length : static_cast<size_t>(len) - 1;
    std::memcpy(buffer, text, kept);
    buffer[kept] = '\0';
}

}  // extern "C"
