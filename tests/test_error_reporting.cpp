// The error handler, the message catalog, the printers and the exit hook.
//
// Output is checked byte for byte against the texts of the catalog: the
// process's standard output and error are redirected into temporary files
// around each call.  Cases that need a process whose handler has never been
// set, or that end the process, run in a child process.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "blas/interface/message_catalog.h"
#include "orb_service.h"
#include "support/child_process.h"

namespace {

// What a program wrote to its two output streams.
struct Output {
    std::string out;  // standard output
    std::string err;  // standard error
};

std::string read_back(FILE *f) {
    std::rewind(f);
    std::string text;
    for (int c; (c = std::fgetc(f)) != EOF;) text.push_back(static_cast<char>(c));
    std::fclose(f);
    return text;
}

// Runs body with file descriptors 1 and 2 sent to temporary files.
template <class Body>
Output capture(Body body) {
    std::fflush(nullptr);
    FILE *out = std::tmpfile();
    FILE *err = std::tmpfile();
    int saved_out = dup(1), saved_err = dup(2);
    dup2(fileno(out), 1);
    dup2(fileno(err), 2);
    body();
    std::fflush(nullptr);
    dup2(saved_out, 1);
    dup2(saved_err, 2);
    close(saved_out);
    close(saved_err);
    return {read_back(out), read_back(err)};
}

// The last report an application handler received.
struct HandlerCall {
    int calls = 0;        // reports received
    std::string name;     // the first len characters of the name
    int64_t info = 0;     // the parameter number
    int len = -1;         // the name length passed
};

HandlerCall seen;

void recording_handler(const char *name, const int64_t *info, int len) {
    ++seen.calls;
    seen.name.assign(name, len > 0 ? static_cast<size_t>(len) : 0);
    seen.info = *info;
    seen.len = len;
}

// Installs a handler for one scope and puts the previous one back.
class HandlerInstalled {
public:
    explicit HandlerInstalled(orb_xerbla_fn fn) {
        seen = HandlerCall{};
        previous_ = orb_serv_set_xerbla(fn);
    }
    ~HandlerInstalled() { orb_serv_set_xerbla(previous_); }

private:
    orb_xerbla_fn previous_;
};

TEST(DefaultHandler, PrintsAnEmptyLineThenTheReport) {
    const char name25[] = "ABCDEFGHIJKLMNOPQRSTUVWXY";
    const char with_terminator[] = "AB\0CD";
    const char unterminated[4] = {'S', 'G', 'E', 'M'};
    struct Case {
        const char *name;
        int64_t info;
        int len;
        const char *printed;  // after the empty line
    } cases[] = {
        {"SGEMM ", 3, 6, "ORB ERROR: Parameter 3 was incorrect on entry to SGEMM ."},
        {"cblas_sgemm", 1, 11, "ORB ERROR: Parameter 1 was incorrect on entry to cblas_sgemm."},
        {"SGEMM ", -4, 6, "ORB INTERNAL ERROR: Condition 4 detected in function SGEMM ."},
        {"SGEMV ", 0, 6, "ORB INTERNAL ERROR: Condition 0 detected in function SGEMV ."},
        {"SGEMM", 1000, 5, "ORB INTERNAL ERROR: Insufficient workspace available in function SGEMM."},
        {"SGEMM", 1001, 5, "ORB ERROR: Incompatible optional parameters on entry to SGEMM."},
        {"SGEMM", 1102, 5, "ORB INTERNAL ERROR: Not enough work memory in function SGEMM"},
        {"card0", 1225, 5, "ORB INTERNAL ERROR: Issue accessing coprocessor card0."},
        {"SGEMM", 1103, 5, "ORB ERROR: Parameter 1103 was incorrect on entry to SGEMM."},
        {name25, 2, 25, "ORB ERROR: Parameter 2 was incorrect on entry to ABCDEFGHIJKLMNOPQRST."},
        {"SGEMMXYZ", 2, 5, "ORB ERROR: Parameter 2 was incorrect on entry to SGEMM."},
        {with_terminator, 2, 5, "ORB ERROR: Parameter 2 was incorrect on entry to AB."},
        {unterminated, 7, 4, "ORB ERROR: Parameter 7 was incorrect on entry to SGEM."},
        {"SGEMM", 2, 0, "ORB ERROR: Parameter 2 was incorrect on entry to ."},
    };
    for (const Case &c : cases) {
        Output o = capture([&] { orb_serv_default_xerbla(c.name, &c.info, c.len); });
        EXPECT_EQ(o.out, std::string("\n") + c.printed + "\n");
        EXPECT_EQ(o.err, "");
    }
}

TEST(DefaultHandler, NullArgumentsAndNegativeLengthPrintNothing) {
    int64_t info = 3;
    Output o = capture([&] {
        orb_serv_default_xerbla(nullptr, &info, 6);
        orb_serv_default_xerbla("SGEMM ", nullptr, 6);
        orb_serv_default_xerbla("SGEMM ", &info, -1);
    });
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(o.err, "");
}

TEST(DefaultHandler, ChainEndsInTheDefaultReport) {
    int64_t info = 5;
    std::string expected = "\nORB ERROR: Parameter 5 was incorrect on entry to SGEMV .\n";
    for (orb_xerbla_fn link : {cdecl_xerbla, xerbla, xerbla_, XERBLA_, XERBLA}) {
        EXPECT_EQ(capture([&] { link("SGEMV ", &info, 6); }).out, expected);
    }
}

// ------------------------------------------------------------------ installed handlers

TEST(InstalledHandler, ReceivesReportsInsteadOfTheDefault) {
    HandlerInstalled installed(recording_handler);
    int64_t info = 13;
    Output o = capture([&] { orb_serv_xerbla("SGEMM ", &info, 6); });
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(seen.calls, 1);
    EXPECT_EQ(seen.name, "SGEMM ");
    EXPECT_EQ(seen.info, 13);
    EXPECT_EQ(seen.len, 6);

    orb_serv_iface_xerbla("SGEMV ", &info, 6);
    EXPECT_EQ(seen.calls, 2);
    EXPECT_EQ(seen.name, "SGEMV ");

    orb_serv_xerbla(nullptr, &info, 6);
    orb_serv_xerbla("SGEMM ", nullptr, 6);
    orb_serv_iface_xerbla(nullptr, &info, 6);
    EXPECT_EQ(seen.calls, 2) << "null name or info is not reported";

    EXPECT_EQ(orb_serv_set_xerbla(nullptr), recording_handler);
    EXPECT_EQ(orb_serv_set_xerbla(recording_handler), orb_serv_default_xerbla) << "none was installed";
}

TEST(InstalledHandler, CblasReportersWidenTheParameterAndMeasureTheName) {
    HandlerInstalled installed(recording_handler);
    cblas_xerbla("cblas_sgemv", -5);
    EXPECT_EQ(seen.calls, 1);
    EXPECT_EQ(seen.name, "cblas_sgemv");
    EXPECT_EQ(seen.info, -5) << "sign-extended to 64 bits";
    EXPECT_EQ(seen.len, 11);
    cblas_xerbla("cblas_sgemm", 14);
    EXPECT_EQ(seen.info, 14);
    cblas_xerbla_malloc_error("cblas_sgemm");
    EXPECT_EQ(seen.calls, 3);
    EXPECT_EQ(seen.info, 1000);
    EXPECT_EQ(seen.len, 11);
    cblas_xerbla(nullptr, 1);
    EXPECT_EQ(seen.calls, 3);
}

TEST(InstalledHandler, CheckPtr) {
    HandlerInstalled installed(recording_handler);
    int object = 0;
    EXPECT_EQ(orb_serv_check_ptr(&object, "orb_buffer"), 0);
    EXPECT_EQ(orb_serv_check_ptr(nullptr, nullptr), 1);
    EXPECT_EQ(seen.calls, 0);
    EXPECT_EQ(orb_serv_check_ptr(nullptr, "orb_buffer"), 1);
    EXPECT_EQ(seen.calls, 1);
    EXPECT_EQ(seen.name, "orb_buffer");
    EXPECT_EQ(seen.info, 1102);
    EXPECT_EQ(seen.len, 10);

    Output o = capture([&] {
        EXPECT_EQ(orb_serv_check_ptr_and_warn(nullptr, "orb_buffer"), 1);
        EXPECT_EQ(orb_serv_check_ptr_and_warn(&object, "orb_buffer"), 0);
    });
    EXPECT_EQ(o.out + o.err, "");
    EXPECT_EQ(seen.calls, 1);
}

TEST(InstalledHandler, CheckPtrWithoutHandlerPrintsTheDefaultReport) {
    HandlerInstalled none(nullptr);
    Output o = capture([&] { orb_serv_check_ptr(nullptr, "orb_buffer"); });
    EXPECT_EQ(o.out, "\nORB INTERNAL ERROR: Not enough work memory in function orb_buffer\n");
}

// A process in which nothing has been installed yet.
ORB_CHILD_ENTRY(first_set_xerbla) {
    bool default_first = orb_serv_set_xerbla(recording_handler) == orb_serv_default_xerbla;
    bool mine_second = orb_serv_set_xerbla(nullptr) == recording_handler;
    std::printf("%d %d\n", default_first, mine_second);
    return 0;
}

ORB_CHILD_ENTRY(interface_keeps_application_handler) {
    orb_serv_set_xerbla(recording_handler);
    orb_set_xerbla_interface(cdecl_xerbla);
    orb_serv_set_xerbla_interface(cdecl_xerbla);
    cblas_xerbla("cblas_sgemm", 6);  // also tries to install cdecl_xerbla
    int64_t info = 3;
    orb_serv_xerbla("SGEMM ", &info, 6);
    std::printf("calls=%d last=%s|%lld\n", seen.calls, seen.name.c_str(), static_cast<long long>(seen.info));
    return 0;
}

ORB_CHILD_ENTRY(interface_installs_when_empty) {
    orb_set_xerbla_interface(recording_handler);
    orb_set_xerbla_interface(cdecl_xerbla);  // does not replace
    int64_t info = 4;
    orb_serv_xerbla("SGEMM ", &info, 6);
    std::printf("calls=%d\n", seen.calls);
    return 0;
}

TEST(InstalledHandler, FreshProcess) {
    EXPECT_EQ(run_child("first_set_xerbla").out, "1 1\n");
    EXPECT_EQ(run_child("interface_keeps_application_handler").out, "calls=2 last=SGEMM |3\n");
    EXPECT_EQ(run_child("interface_installs_when_empty").out, "calls=1\n");
}

// Eight distinct handlers that count their reports.
std::atomic<int> reports_by[8];

template <int I>
void counting_handler(const char *, const int64_t *, int) {
    reports_by[I].fetch_add(1);
}

constexpr orb_xerbla_fn kCountingHandlers[8] = {
    counting_handler<0>, counting_handler<1>, counting_handler<2>, counting_handler<3>,
    counting_handler<4>, counting_handler<5>, counting_handler<6>, counting_handler<7>,
};

// Each thread installs its own handler and then reports once: once any
// handler is installed it must never change, so all reports reach one.
TEST(InstalledHandler, ConcurrentFirstInstallsInstallExactlyOne) {
    orb_xerbla_fn saved = orb_serv_set_xerbla(nullptr);
    for (int round = 0; round < 50; ++round) {
        orb_serv_set_xerbla(nullptr);
        for (std::atomic<int> &r : reports_by) r = 0;
        std::atomic<int> ready{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < 8; ++t) {
            threads.emplace_back([t, &ready] {
                ready.fetch_add(1);
                while (ready.load() < 8) {
                }
                orb_serv_set_xerbla_interface(kCountingHandlers[t]);
                int64_t info = 1;
                orb_serv_xerbla("SGEMM ", &info, 6);
            });
        }
        for (std::thread &t : threads) t.join();
        int receivers = 0, reports = 0;
        for (std::atomic<int> &r : reports_by) {
            receivers += r.load() > 0;
            reports += r.load();
        }
        ASSERT_EQ(receivers, 1) << "round " << round;
        ASSERT_EQ(reports, 8) << "round " << round;
    }
    orb_serv_set_xerbla(saved);
}

// ------------------------------------------------------------------ printers

TEST(Printers, PrintWritesTheMessageAndANewline) {
    EXPECT_EQ(capture([] { orb_serv_print(0, 0, 0); }).out, "\n");
    EXPECT_EQ(capture([] { orb_serv_print(0, 1226, 1, 4); }).out, "ORB ERROR: CPU 4 is not supported.\n");
    EXPECT_EQ(capture([] { orb_serv_print(2, 1226, 1, 6); }).out, "ORB ERROR: CPU 6 is not supported.\n");
    Output to_err = capture([] { orb_serv_print(1, 1, 1, "libx.so"); });
    EXPECT_EQ(to_err.out, "");
    EXPECT_EQ(to_err.err, "ORB FATAL ERROR: Cannot load libx.so.\n");
    // nargs is not consulted.
    EXPECT_EQ(capture([] { orb_serv_print(0, 1226, 0, 9); }).out, "ORB ERROR: CPU 9 is not supported.\n");
}

TEST(Printers, AnOverlongTextIsDroppedNotCut) {
    std::string name(600, 'n');
    Output o = capture([&] { orb_serv_print(0, 6, 2, 3, name.c_str()); });
    EXPECT_EQ(o.out, "\n");
    // Just fits: 511 characters.
    std::string fitting(511 - std::string("ORB ERROR: Parameter 3 was incorrect on entry to .").size(), 'n');
    std::string line = capture([&] { orb_serv_print(0, 6, 2, 3, fitting.c_str()); }).out;
    EXPECT_EQ(line.size(), 512u);
    EXPECT_EQ(capture([&] { orb_serv_format_print(0, "%s", 1, name.c_str()); }).out, "");
}

TEST(Printers, FormatPrint) {
    EXPECT_EQ(capture([] { orb_serv_format_print(0, "plain text", 0); }).out, "");
    EXPECT_EQ(capture([] { orb_serv_format_print(0, "plain text", -1); }).out, "");
    EXPECT_EQ(capture([] { orb_serv_format_print(0, "%d-%s", 2, 7, "x"); }).out, "7-x");
    Output err = capture([] { orb_serv_format_print(1, "e%d", 1, 1); });
    EXPECT_EQ(err.err, "e1");
    EXPECT_EQ(err.out, "");
}

TEST(Printers, FileFormatPrint) {
    FILE *f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    orb_serv_file_format_print(f, "skipped %d", 0, 1);
    orb_serv_file_format_print(f, "line %d\n", 1, 1);
    orb_serv_file_format_print(f, "%s|", 1, "two");
    EXPECT_EQ(read_back(f), "line 1\ntwo|");
}

TEST(Printers, GetMsg) {
    EXPECT_STREQ(orb_serv_get_msg(6, 0), "ORB ERROR: Parameter %d was incorrect on entry to %s.");
    EXPECT_STREQ(orb_serv_get_msg(0, 0), "");
    EXPECT_STREQ(orb_serv_get_msg(6, 2, 5, "SGEMV "), "ORB ERROR: Parameter 5 was incorrect on entry to SGEMV .");
    EXPECT_STREQ(orb_serv_get_msg(1226, 1, 3), "ORB ERROR: CPU 3 is not supported.");
}

TEST(Printers, ConcurrentMessagesStayWhole) {
    constexpr int kThreads = 8, kEach = 100;
    Output o = capture([] {
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t)
            threads.emplace_back([t] {
                for (int i = 0; i < kEach; ++i) orb_serv_print(0, 1226, 1, t);
            });
        for (std::thread &t : threads) t.join();
    });
    std::map<std::string, int> lines;
    std::istringstream in(o.out);
    for (std::string line; std::getline(in, line);) ++lines[line];
    ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads)) << o.out.substr(0, 400);
    for (int t = 0; t < kThreads; ++t)
        EXPECT_EQ(lines["ORB ERROR: CPU " + std::to_string(t) + " is not supported."], kEach);
}

TEST(Printers, GetMsgTextsOfTwoThreadsDoNotOverwriteEachOther) {
    std::atomic<int> step{0};
    std::string first_seen_later;
    std::thread first([&] {
        const char *mine = orb_serv_get_msg(6, 2, 1, "FIRST");
        step = 1;
        while (step.load() != 2) {
        }
        first_seen_later = mine;
    });
    std::thread second([&] {
        while (step.load() != 1) {
        }
        orb_serv_get_msg(6, 2, 2, "SECOND");
        step = 2;
    });
    first.join();
    second.join();
    EXPECT_EQ(first_seen_later, "ORB ERROR: Parameter 1 was incorrect on entry to FIRST.");
}

// ------------------------------------------------------------------ catalog

TEST(Catalog, EverySlotCarriesItsNumber) {
    ASSERT_EQ(orb_msgtab.size(), 1458u);
    for (int i = 0; i < 1458; ++i) {
        ASSERT_EQ(orb_msgtab[i].number, i);
        ASSERT_NE(orb_msgtab[i].text, nullptr) << i;
        int kind = orb_msgtab[i].kind;
        ASSERT_TRUE(kind == 1 || kind == 2 || kind == 4) << i;
    }
}

TEST(Catalog, QuotedTextsAndKinds) {
    struct Quoted {
        int number, kind;
        const char *text;
    } quoted[] = {
        {0, 1, "\n"},
        {1, 4, "ORB FATAL ERROR: Cannot load %s."},
        {6, 4, "ORB ERROR: Parameter %d was incorrect on entry to %s."},
        {7, 4, "ORB INTERNAL ERROR: Condition %d detected in function %s."},
        {8, 4, "ORB INTERNAL ERROR: Insufficient workspace available in function %s."},
        {9, 4, "ORB ERROR: Incompatible optional parameters on entry to %s."},
        {1102, 4, "ORB INTERNAL ERROR: Not enough work memory in function %s"},
        {1225, 4, "ORB INTERNAL ERROR: Issue accessing coprocessor %s."},
        {1226, 4, "ORB ERROR: CPU %d is not supported."},
    };
    for (const Quoted &q : quoted) {
        EXPECT_EQ(orb_msgtab[q.number].kind, q.kind) << q.number;
        EXPECT_STREQ(orb_msgtab[q.number].text, q.text) << q.number;
    }
}

// Texts described but not quoted: their prefix, the words that carry the
// meaning, the kind, and no conversions (they are printed without arguments).
TEST(Catalog, DescribedTexts) {
    struct Described {
        int number, kind;
        const char *prefix, *word, *other_word;
    } described[] = {
        {1223, 4, "ORB FATAL ERROR:", "minimum requirements", "ORB"},
        {1450, 4, "ORB ", "SSE3", "processor"},
        {1453, 2, "ORB WARNING:", "SSSE3", "SSE2"},
        {1454, 2, "ORB WARNING:", "AVX", "SSE4.2"},
    };
    for (const Described &d : described) {
        std::string text = orb_msgtab[d.number].text;
        EXPECT_EQ(orb_msgtab[d.number].kind, d.kind) << d.number;
        EXPECT_EQ(text.rfind(d.prefix, 0), 0u) << text;
        EXPECT_NE(text.find(d.word), std::string::npos) << text;
        EXPECT_NE(text.find(d.other_word), std::string::npos) << text;
        EXPECT_EQ(text.find('%'), std::string::npos) << text;
    }
}

// ------------------------------------------------------------------ exit hook

int hook_code = -1;
void recording_exit_hook(int code) { hook_code = code; }

TEST(ExitHook, HookIsCalledInsteadOfExit) {
    orb_serv_set_exit_handler(recording_exit_hook);
    orb_serv_exit(5);
    EXPECT_EQ(hook_code, 5);
    orb_serv_set_exit_handler(nullptr);
}

ORB_CHILD_ENTRY(exit_without_hook) {
    orb_serv_exit(42);
    std::printf("still running\n");
    return 0;
}

ORB_CHILD_ENTRY(exit_after_hook_removed) {
    orb_serv_set_exit_handler(recording_exit_hook);
    orb_serv_set_exit_handler(nullptr);
    orb_serv_exit(9);
    std::printf("still running\n");
    return 0;
}

TEST(ExitHook, WithoutAHookTheProcessEnds) {
    ChildResult plain = run_child("exit_without_hook");
    EXPECT_EQ(plain.exit_code, 42);
    EXPECT_EQ(plain.out, "");
    ChildResult removed = run_child("exit_after_hook_removed");
    EXPECT_EQ(removed.exit_code, 9);
    EXPECT_EQ(removed.out, "");
}

// ------------------------------------------------------------------ loading

// Loads the shared library from a working directory that no longer exists.
ORB_CHILD_ENTRY(load_without_working_directory) {
    char dir[] = "/tmp/orb_load_XXXXXX";
    if (mkdtemp(dir) == nullptr || chdir(dir) != 0 || rmdir(dir) != 0) return 100;
    void *library = dlopen(ORB_SHARED_LIBRARY_PATH, RTLD_NOW);
    std::printf("loaded %d\n", library != nullptr);
    return 0;
}

ORB_CHILD_ENTRY(load_normally) {
    void *library = dlopen(ORB_SHARED_LIBRARY_PATH, RTLD_NOW);
    std::printf("loaded %d\n", library != nullptr);
    return 0;
}

TEST(Loading, MissingWorkingDirectoryEndsTheProcess) {
    ChildResult ok = run_child("load_normally");
    EXPECT_EQ(ok.out, "loaded 1\n");
    EXPECT_EQ(ok.err, "");

    ChildResult failed = run_child("load_without_working_directory");
    EXPECT_EQ(failed.exit_code, 2);
    EXPECT_EQ(failed.out, "");
    EXPECT_EQ(failed.err, std::string("ORB FATAL ERROR: Cannot load ") + ORB_SHARED_LIBRARY_PATH + ".\n");
}

}  // namespace
