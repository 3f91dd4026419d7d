// Bounded strings, memory copies and formatters: every constraint code in its
// check order with the handler's exact message, what is left in the
// destination, and canary bytes proving nothing outside the stated size is
// written.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>

#include "orb_service.h"

namespace {

// The constraint reports received since the last reset.
struct Reports {
    int calls = 0;        // number of reports
    std::string message;  // "function: reason" of the last one
    void *ptr = nullptr;  // its second argument
    int code = 0;         // its constraint code
} reports;

void record(const char *msg, void *ptr, int code) { reports = {reports.calls + 1, msg, ptr, code}; }

// Installs the recorder for the string functions, the memory copy, or both.
class Recording {
public:
    explicit Recording(bool strings = true, bool memory = true) {
        reports = Reports{};
        old_str_ = orb_serv_set_str_constraint_handler_s(strings ? record : nullptr);
        old_mem_ = orb_serv_set_mem_constraint_handler_s(memory ? record : nullptr);
    }
    ~Recording() {
        orb_serv_set_str_constraint_handler_s(old_str_);
        orb_serv_set_mem_constraint_handler_s(old_mem_);
    }

private:
    orb_constraint_handler_fn old_str_, old_mem_;
};

// Eight usable bytes, initially "ab\0qqqqq", between two runs of canaries.
struct Guarded {
    char bytes[8 + 32];
    Guarded() {
        std::memset(bytes, '\xA5', sizeof bytes);
        std::memcpy(data(), "ab\0qqqqq", 8);
    }
    char *data() { return bytes + 16; }
    std::string contents() { return std::string(data(), 8); }
    bool canaries_intact() const {
        for (int i = 0; i < 16; ++i)
            if (bytes[i] != '\xA5' || bytes[24 + i] != '\xA5') return false;
        return true;
    }
};

const std::string kUntouched("ab\0qqqqq", 8);
const std::string kEmptied("\0b\0qqqqq", 8);
const std::string kZeroed(8, '\0');

// One failing call: its code, the handler's message and the destination after it.
struct Fault {
    std::function<int(char *)> call;  // receives the guarded buffer
    int code;                         // expected result and reported code
    const char *message;              // expected report
    const std::string *after;         // expected buffer contents, or null: not specified
};

TEST(BoundedFunctions, EveryFaultInCheckOrder) {
    const std::string kOverlapCopy("ab\0qqqqq", 8), kOverlapZeroed("ab\0\0\0\0\0\0", 8);
    const Fault faults[] = {
        // strncpy_s: dest, dmax, src, slen, then overlap and space during the copy.
        {[](char *) { return orb_serv_strncpy_s(nullptr, 0, nullptr, 0); }, 400, "strncpy_s: dest is null", nullptr},
        {[](char *b) { return orb_serv_strncpy_s(b, 0, nullptr, 0); }, 401, "strncpy_s: dmax is 0", &kUntouched},
        {[](char *b) { return orb_serv_strncpy_s(b, 4097, nullptr, 0); }, 403, "strncpy_s: dmax exceeds max", &kUntouched},
        {[](char *b) { return orb_serv_strncpy_s(b, 8, nullptr, 0); }, 400, "strncpy_s: src is null", &kEmptied},
        {[](char *b) { return orb_serv_strncpy_s(b, 8, "xy", 0); }, 401, "strncpy_s: slen is zero", &kEmptied},
        {[](char *b) { return orb_serv_strncpy_s(b, 8, "xy", 4097); }, 403, "strncpy_s: slen exceeds max", &kEmptied},
        {[](char *b) { return orb_serv_strncpy_s(b + 2, 6, b, 6); }, 404, "strncpy_s: overlapping objects", &kOverlapCopy},
        {[](char *b) { return orb_serv_strncpy_s(b, 5, "hello", 5); }, 406, "strncpy_s: not enough space for src", &kEmptied},
        {[](char *b) { return orb_serv_strncpy_s(b, 8, "a long text", 100); }, 406, "strncpy_s: not enough space for src", &kEmptied},
        // strncat_s: dest, src, slen, dmax, then the destination's terminator, overlap, room.
        {[](char *) { return orb_serv_strncat_s(nullptr, 0, nullptr, 5000); }, 400, "strncat_s: dest is null", nullptr},
        {[](char *b) { return orb_serv_strncat_s(b, 0, nullptr, 5000); }, 400, "strncat_s: src is null", nullptr},
        {[](char *b) { return orb_serv_strncat_s(b, 0, "x", 5000); }, 403, "strncat_s: slen exceeds max", nullptr},
        {[](char *b) { return orb_serv_strncat_s(b, 0, "x", 1); }, 401, "strncat_s: dmax is 0", nullptr},
        {[](char *b) { return orb_serv_strncat_s(b, 4097, "x", 1); }, 403, "strncat_s: dmax exceeds max", nullptr},
        {[](char *b) { return orb_serv_strncat_s(b + 3, 5, "x", 1); }, 407, "strncat_s: dest unterminated", nullptr},
        {[](char *b) { return orb_serv_strncat_s(b, 8, b, 2); }, 404, "strncat_s: overlapping objects", nullptr},
        {[](char *b) { return orb_serv_strncat_s(b, 4, "xy", 2); }, 406, "strncat_s: not enough space for src", nullptr},
        // memcpy_s: dest, dmax, smax, src, overlap; from smax on the destination is zeroed.
        {[](char *) { return orb_serv_memcpy_s(nullptr, 0, nullptr, 0); }, 400, "memcpy_s: dest is NULL", nullptr},
        {[](char *b) { return orb_serv_memcpy_s(b, 0, nullptr, 0); }, 401, "memcpy_s: dmax is 0", &kUntouched},
        {[](char *b) { return orb_serv_memcpy_s(b, 0x10000001, nullptr, 0); }, 403, "memcpy_s: dmax exceeds max", &kUntouched},
        {[](char *b) { return orb_serv_memcpy_s(b, 8, nullptr, 0); }, 401, "memcpy_s: smax is 0", &kZeroed},
        {[](char *b) { return orb_serv_memcpy_s(b, 8, nullptr, 9); }, 403, "memcpy_s: smax exceeds dmax", &kZeroed},
        {[](char *b) { return orb_serv_memcpy_s(b, 8, nullptr, 4); }, 400, "memcpy_s: src is NULL", &kZeroed},
        {[](char *b) { return orb_serv_memcpy_s(b + 2, 6, b, 4); }, 404, "memcpy_s: overlap undefined", &kOverlapZeroed},
    };
    Recording recording;
    for (const Fault &f : faults) {
        SCOPED_TRACE(f.message);
        Guarded buffer;
        reports = Reports{};
        EXPECT_EQ(f.call(buffer.data()), f.code);
        EXPECT_EQ(reports.calls, 1);
        EXPECT_EQ(reports.message, f.message);
        EXPECT_EQ(reports.code, f.code);
        EXPECT_EQ(reports.ptr, nullptr);
        if (f.after) EXPECT_EQ(buffer.contents(), *f.after);
        EXPECT_TRUE(buffer.canaries_intact());
    }
}

TEST(BoundedFunctions, Successes) {
    Recording recording;
    Guarded b;
    EXPECT_EQ(orb_serv_strnlen_s("hello", 10), 5u);
    EXPECT_EQ(orb_serv_strnlen_s("hello", 3), 3u);
    EXPECT_EQ(orb_serv_strnlen_s(std::string(5000, 'a').c_str(), 4096), 4096u);
    EXPECT_EQ(orb_serv_strnlen_s(nullptr, 10), 0u) << "null is not reported";

    EXPECT_EQ(orb_serv_strncpy_s(b.data(), 8, "abcdefg", 7), 0) << "7 characters and terminator fill 8 bytes";
    EXPECT_EQ(b.contents(), std::string("abcdefg\0", 8));
    EXPECT_EQ(orb_serv_strncpy_s(b.data(), 8, "hello", 2), 0);
    EXPECT_STREQ(b.data(), "he");
    EXPECT_EQ(orb_serv_strncpy_s(b.data() + 4, 4, b.data(), 4), 0) << "disjoint ranges";
    EXPECT_STREQ(b.data() + 4, "he");

    EXPECT_EQ(orb_serv_strncat_s(b.data(), 8, "cdefgh", 3), 0);
    EXPECT_STREQ(b.data(), "hecde");
    EXPECT_EQ(orb_serv_strncat_s(b.data(), 8, "fg", 10), 0);
    EXPECT_EQ(b.contents(), std::string("hecdefg\0", 8));
    EXPECT_EQ(orb_serv_strncat_s(b.data(), 8, "x", 0), 0);

    EXPECT_EQ(orb_serv_memcpy_s(b.data(), 0x10000000, "12", 2), 0) << "largest dmax; only smax bytes written";
    EXPECT_EQ(b.contents(), std::string("12cdefg\0", 8));
    EXPECT_EQ(reports.calls, 0);
    EXPECT_TRUE(b.canaries_intact());

    orb_serv_mem_prim_set(b.data(), 5, 0x1234);
    EXPECT_EQ(b.contents(), std::string("44444fg\0", 8));
    char forward[] = "abcdefgh", backward[] = "abcdefgh";
    orb_serv_mem_prim_move(forward + 2, forward, 5);
    orb_serv_mem_prim_move(backward, backward + 2, 5);
    EXPECT_STREQ(forward, "ababcdeh");
    EXPECT_STREQ(backward, "cdefgfgh");
}

TEST(BoundedFunctions, StrnlenFaults) {
    Recording recording;
    EXPECT_EQ(orb_serv_strnlen_s("abc", 0), 0u);
    EXPECT_EQ(reports.message, "strnlen_s: dmax is 0");
    EXPECT_EQ(reports.code, 401);
    EXPECT_EQ(orb_serv_strnlen_s("abc", 4097), 0u);
    EXPECT_EQ(reports.message, "strnlen_s: dmax exceeds max");
    EXPECT_EQ(reports.code, 403);
    EXPECT_EQ(reports.calls, 2);
}

TEST(ConstraintHandlers, FamiliesSettersAndInvokers) {
    {
        Recording strings_only(true, false);
        char buf[4];
        orb_serv_memcpy_s(buf, 4, nullptr, 2);
        EXPECT_EQ(reports.calls, 0) << "memory fault reached the string handler";
    }
    {
        Recording memory_only(false, true);
        char buf[4];
        orb_serv_strncpy_s(buf, 4, nullptr, 2);
        EXPECT_EQ(reports.calls, 0) << "string fault reached the memory handler";
        int marker;
        orb_serv_invoke_safe_mem_constraint_handler("m: r", &marker, 404);
        EXPECT_EQ(reports.ptr, &marker);
        EXPECT_EQ(reports.message, "m: r");
    }
    orb_constraint_handler_fn saved = orb_serv_set_str_constraint_handler_s(record);
    EXPECT_EQ(orb_serv_set_str_constraint_handler_s(nullptr), record);
    EXPECT_EQ(orb_serv_set_str_constraint_handler_s(saved), orb_serv_ignore_handler_s) << "null installs ignore";
    saved = orb_serv_set_mem_constraint_handler_s(record);
    EXPECT_EQ(orb_serv_set_mem_constraint_handler_s(nullptr), record);
    EXPECT_EQ(orb_serv_set_mem_constraint_handler_s(saved), orb_serv_ignore_handler_s);
}

// ------------------------------------------------------------------ formatters

int vsprintf_via(char *s, size_t dmax, const char *format, ...) {
    va_list args;
    va_start(args, format);
    int result = orb_serv_vsprintf_s(s, dmax, format, args);
    va_end(args);
    return result;
}

TEST(Formatters, SprintfKeepsTheWholeTextOrNothing) {
    Guarded b;
    EXPECT_EQ(orb_serv_sprintf_s(b.data(), 8, "n=%d", 42), 4);
    EXPECT_STREQ(b.data(), "n=42");
    EXPECT_EQ(orb_serv_sprintf_s(b.data(), 8, "%s", "1234567"), 7);
    EXPECT_EQ(orb_serv_sprintf_s(b.data(), 8, "%s", "12345678"), -1);
    EXPECT_STREQ(b.data(), "");
    EXPECT_EQ(orb_serv_sprintf_s(b.data(), 8, nullptr), -1);
    EXPECT_EQ(orb_serv_sprintf_s(b.data(), 0, "x"), -1);
    EXPECT_EQ(orb_serv_sprintf_s(nullptr, 8, "x"), -1);
    EXPECT_TRUE(b.canaries_intact());

    std::string big(600, 'w');
    char out[512 + 1];
    out[512] = '\x5A';
    EXPECT_EQ(vsprintf_via(out, 512, "%s", big.c_str()), -1);
    EXPECT_STREQ(out, "");
    EXPECT_EQ(out[512], '\x5A');
}

TEST(Formatters, SnprintfKeepsATextCutAtCount) {
    std::string text;
    for (int i = 0; i < 500; ++i) text += static_cast<char>('a' + i % 26);
    char out[450 + 1];
    out[450] = '\x5A';
    EXPECT_EQ(orb_serv_snprintf_s(out, 450, 449, "%s", text.c_str()), -1);
    EXPECT_EQ(std::string(out), text.substr(0, 449));
    EXPECT_EQ(out[450], '\x5A');
    EXPECT_EQ(orb_serv_snprintf_s(out, 450, 5, "%s", "abcdefgh"), -1);
    EXPECT_STREQ(out, "abcde");
    EXPECT_EQ(orb_serv_snprintf_s(out, 450, 5, "%s", "abcde"), 5);

    Guarded b;  // count beyond dmax: fits in dmax, or nothing at all
    EXPECT_EQ(orb_serv_snprintf_s(b.data(), 8, 100, "%s", "abc"), 3);
    EXPECT_EQ(orb_serv_snprintf_s(b.data(), 8, 100, "%s", "abcdefghij"), -1);
    EXPECT_STREQ(b.data(), "");
    EXPECT_EQ(orb_serv_snprintf_s(b.data(), 8, 5, nullptr), -1);
    EXPECT_TRUE(b.canaries_intact());
}

TEST(Formatters, SprintfCharAppendsUntilTheBufferIsFull) {
    Guarded b;  // seven characters of room plus the terminator's byte
    size_t left = 7;
    char *p = orb_serv_sprintf_char_s(b.data(), &left, "%s-", "ab");
    EXPECT_EQ(p - b.data(), 3);
    EXPECT_EQ(left, 4u);
    p = orb_serv_sprintf_char_s(p, &left, "%d", 123456);  // cut, all room consumed
    EXPECT_EQ(p - b.data(), 7);
    EXPECT_EQ(left, 0u);
    EXPECT_EQ(b.contents(), std::string("ab-1234\0", 8));
    for (int i = 0; i < 3; ++i) EXPECT_EQ(orb_serv_sprintf_char_s(p, &left, "more"), b.data() + 7);
    EXPECT_EQ(b.contents(), std::string("ab-1234\0", 8));
    EXPECT_TRUE(b.canaries_intact());

    Guarded n;
    left = 5;
    EXPECT_EQ(orb_serv_sprintf_char_s(n.data(), &left, nullptr), n.data() + 5) << "null format consumes the room";
    EXPECT_EQ(left, 0u);
    EXPECT_EQ(n.contents(), kUntouched);
}

int vfprintf_via(FILE *f, const char *format, ...) {
    va_list args;
    va_start(args, format);
    int result = orb_serv_vfprintf_s(f, format, args);
    va_end(args);
    return result;
}

std::string contents_of(FILE *f) {
    std::fflush(f);
    std::rewind(f);
    std::string out;
    for (int c; (c = std::fgetc(f)) != EOF;) out.push_back(static_cast<char>(c));
    return out;
}

TEST(Formatters, FileOutputAndInput) {
    FILE *f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    std::string fits(1023, 'f'), too_long(1024, 'g');
    EXPECT_EQ(orb_serv_fprintf_s(f, "%s", fits.c_str()), 1023);
    EXPECT_LT(orb_serv_fprintf_s(f, "%s", too_long.c_str()), 0);
    EXPECT_LT(orb_serv_fprintf_s(f, nullptr), 0);
    EXPECT_EQ(orb_serv_fprintf_s(f, " %d\n", 17), 4);
    EXPECT_EQ(contents_of(f), fits + " 17\n");
    std::fclose(f);

    std::string path = ::testing::TempDir() + "orb_formatted_io.txt";
    f = orb_serv_fopen(path.c_str(), "w+");
    ASSERT_NE(f, nullptr);
    std::string big(5000, 'b');  // the unbounded form has no length limit
    EXPECT_EQ(vfprintf_via(f, "%s %d\n", big.c_str(), 17), 5004);
    std::fseek(f, 4998, SEEK_SET);
    char word[8] = {};
    int number = 0;
    EXPECT_EQ(orb_serv_fscanf_s(f, "%7s %d", word, &number), 2);
    EXPECT_STREQ(word, "bb");
    EXPECT_EQ(number, 17);
    EXPECT_EQ(orb_serv_fclose(f), 0);
    std::remove(path.c_str());
    EXPECT_EQ(orb_serv_sscanf_s("12 ab", "%d %2s", &number, word), 2);
    EXPECT_EQ(number, 12);
    EXPECT_EQ(orb_serv_fopen("/nonexistent-dir/x", "r"), nullptr);
}

}  // namespace
