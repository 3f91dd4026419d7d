// cpu_identity.cpp - the real or a presented processor behind CPUID and XGETBV.
//
// The presentation is chosen once, under a spin lock, from "ORB_SIMULATE_CPU"
// (see cpu_identity.h).  A scripted table is parsed into a fixed array; no
// C library function is used, so this works during early initialisation.
#include "service/cpu_identity.h"

#include "orb_service.h"
#include "service/proc_environ.h"

namespace {

// What orb_cpuid answers with.
enum class Presentation : int {
    kUnknown = 0,  // not decided yet
    kReal,         // the processor itself
    kRuzuv,        // the processor itself under the vendor "GenuineRuzuv"
    kScript,       // a table read from a file
};

// One scripted CPUID answer.
struct ScriptedLeaf {
    uint32_t leaf;     // EAX input
    uint32_t subleaf;  // ECX input
    CpuidRegs regs;    // the answer
};

constexpr int kMaxScriptedLeaves = 256;
constexpr size_t kMaxScriptBytes = 64 * 1024;
constexpr size_t kMaxSettingLength = 512;

// The scripted processor; written once under the lock before the
// presentation is published.
struct Script {
    ScriptedLeaf leaves[kMaxScriptedLeaves];  // answers in file order
    int count;                                 // entries used
    uint64_t xcr0;                             // XGETBV(0) answer
};

Script g_script;
volatile int g_presentation = static_cast<int>(Presentation::kUnknown);
volatile int g_identity_lock = 0;

CpuidRegs hardware_cpuid(uint32_t leaf, uint32_t subleaf) {
    CpuidRegs r;
    __asm__ volatile("cpuid" : "=a"(r.eax), "=b"(r.ebx), "=c"(r.ecx), "=d"(r.edx) : "a"(leaf), "c"(subleaf));
    return r;
}

uint64_t hardware_xgetbv0() {
    uint32_t lo, hi;
    __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
    return (static_cast<uint64_t>(hi) << 32) | lo;
}

// --- warnings, written with the raw write call ---------------------------

void write_text(const char *text) { __liborb_libc_write(2, text, __liborb_libc_strlen(text)); }

void write_number(unsigned long value) {
    char digits[24];
    int n = 0;
    do { digits[n++] = static_cast<char>('0' + value % 10); value /= 10; } while (value);
    char out[24];
    for (int i = 0; i < n; ++i) out[i] = digits[n - 1 - i];
    __liborb_libc_write(2, out, static_cast<size_t>(n));
}

// One warning line: "ORB WARNING: ORB_SIMULATE_CPU <what> [subject] [line N]; ...".
void warn(const char *what, const char *subject, unsigned long line) {
    write_text("ORB WARNING: ORB_SIMULATE_CPU ");
    write_text(what);
    if (subject) { write_text(" "); write_text(subject); }
    if (line) { write_text(", line "); write_number(line); }
    write_text("; using the real processor.\n");
}

// --- the table parser -----------------------------------------------------

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\r'; }

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Reads one hexadecimal field (optional 0x) at *p; false when there is none.
bool read_hex(const char *&p, const char *end, uint64_t &value) {
    while (p < end && is_space(*p)) ++p;
    if (end - p >= 2 && p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) p += 2;
    int digits = 0;
    value = 0;
    for (int d; p < end && (d = hex_digit(*p)) >= 0; ++p, ++digits) {
        if (digits == 16) return false;
        value = (value << 4) | static_cast<uint64_t>(d);
    }
    return digits > 0 && (p == end || is_space(*p));
}

bool rest_is_blank(const char *p, const char *end) {
    while (p < end && is_space(*p)) ++p;
    return p == end;
}

// Parses one line without its comment; false when it is malformed.
bool parse_line(const char *p, const char *end, Script &script) {
    if (rest_is_blank(p, end)) return true;
    while (is_space(*p)) ++p;
    if (end - p > 4 && __liborb_libc_strncmp(p, "xcr0", 4) == 0 && is_space(p[4])) {
        p += 4;
        return read_hex(p, end, script.xcr0) && rest_is_blank(p, end);
    }
    uint64_t field[6];
    for (uint64_t &f : field)
        if (!read_hex(p, end, f) || f > 0xffffffffu) return false;
    if (!rest_is_blank(p, end) || script.count == kMaxScriptedLeaves) return false;
    script.leaves[script.count++] = {static_cast<uint32_t>(field[0]), static_cast<uint32_t>(field[1]),
                                     {static_cast<uint32_t>(field[2]), static_cast<uint32_t>(field[3]),
                                      static_cast<uint32_t>(field[4]), static_cast<uint32_t>(field[5])}};
    return true;
}

// Loads the table at path into g_script; warns and returns false on failure.
bool load_script(const char *path) {
    static char text[kMaxScriptBytes];
    long fd = __liborb_libc_open(path, 0);
    if (fd < 0) { warn("cannot read", path, 0); return false; }
    size_t size = 0;
    long got = 0;
    while (size < kMaxScriptBytes && (got = __liborb_libc_read(static_cast<int>(fd), text + size, kMaxScriptBytes - size)) > 0)
        size += static_cast<size_t>(got);
    __liborb_libc_close(static_cast<int>(fd));
    // A directory opens but does not read.
    if (got < 0) { warn("cannot read", path, 0); return false; }
    if (size == kMaxScriptBytes) { warn("table is too large:", path, 0); return false; }

    g_script.count = 0;
    g_script.xcr0 = 0;
    unsigned long line = 1;
    for (const char *p = text, *end = text + size; p < end; ++line) {
        const char *eol = p;
        while (eol < end && *eol != '\n') ++eol;
        const char *stop = p;
        while (stop < eol && *stop != '#') ++stop;
        if (!parse_line(p, stop, g_script)) { warn("table is malformed:", path, line); return false; }
        p = eol + 1;
    }
    // An empty table, or one of comments only, would present a processor
    // with no features and no caches: refused like a malformed one.
    if (g_script.count == 0) { warn("table holds no CPUID answer:", path, 0); return false; }
    return true;
}

Presentation choose_presentation() {
    char setting[kMaxSettingLength];
    __liborb_libc_getenv_from_proc("ORB_SIMULATE_CPU", setting, sizeof setting);
    if (setting[0] == '\0') return Presentation::kReal;
    if (__liborb_libc_strncmp(setting, "ruzuv", sizeof "ruzuv") == 0) return Presentation::kRuzuv;
    if (__liborb_libc_strncmp(setting, "file:", 5) == 0)
        return load_script(setting + 5) ? Presentation::kScript : Presentation::kReal;
    warn("has an unknown value:", setting, 0);
    return Presentation::kReal;
}

Presentation presentation() {
    int p = __atomic_load_n(&g_presentation, __ATOMIC_ACQUIRE);
    if (p != static_cast<int>(Presentation::kUnknown)) return static_cast<Presentation>(p);
    orb_serv_lock(&g_identity_lock);
    if (g_presentation == static_cast<int>(Presentation::kUnknown))
        __atomic_store_n(&g_presentation, static_cast<int>(choose_presentation()), __ATOMIC_RELEASE);
    orb_serv_unlock(&g_identity_lock);
    return static_cast<Presentation>(g_presentation);
}

}  // namespace

extern "C" CpuidRegs orb_cpuid(uint32_t leaf, uint32_t subleaf) {
    switch (presentation()) {
    case Presentation::kScript:
        for (int i = 0; i < g_script.count; ++i)
            if (g_script.leaves[i].leaf == leaf && g_script.leaves[i].subleaf == subleaf)
                return g_script.leaves[i].regs;
        return CpuidRegs{0, 0, 0, 0};
    case Presentation::kRuzuv: {
        CpuidRegs r = hardware_cpuid(leaf, subleaf);
        if (leaf == 0) orb_cpuid_set_vendor(r, "GenuineRuzuv");
        return r;
    }
    default:
        return hardware_cpuid(leaf, subleaf);
    }
}

extern "C" uint64_t orb_xgetbv0(void) {
    return presentation() == Presentation::kScript ? g_script.xcr0 : hardware_xgetbv0();
}
