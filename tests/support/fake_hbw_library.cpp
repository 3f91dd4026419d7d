// fake_hbw_library.cpp - a stand-in for the high-bandwidth memory library.
//
// Built as the shared library the memory manager looks for, in a directory
// of its own; a test puts that directory on LD_LIBRARY_PATH of a child
// process.  Its "high-bandwidth" blocks are ordinary aligned blocks.  The
// environment steers it: FAKE_HBW_VERSION is the version it reports
// (default 1.1.0 = 1001000), FAKE_HBW_REFUSE_2M=1 makes it refuse 2 MiB
// pages.  fake_hbw_calls(kind) tells how many blocks of a page kind (1 for
// 4 KiB, 2 for 2 MiB) it handed out; fake_hbw_frees() how many came back.
#include <cerrno>
#include <cstddef>
#include <cstdlib>

#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))

namespace {
int calls_by_kind[3];
int frees;
}  // namespace

FAKE_EXPORT int memkind_get_version() {
    const char *version = std::getenv("FAKE_HBW_VERSION");
    return version != nullptr ? std::atoi(version) : 1001000;
}

FAKE_EXPORT int hbw_posix_memalign_psize(void **block, size_t alignment, size_t size, int page_kind) {
    const char *refuse = std::getenv("FAKE_HBW_REFUSE_2M");
    if (page_kind < 1 || page_kind > 2 || (page_kind == 2 && refuse != nullptr && refuse[0] == '1'))
        return ENOMEM;
    if (posix_memalign(block, alignment, size) != 0) return ENOMEM;
    ++calls_by_kind[page_kind];
    return 0;
}

FAKE_EXPORT void hbw_free(void *block) {
    ++frees;
    std::free(block);
}

FAKE_EXPORT int fake_hbw_calls(int kind) { return kind >= 1 && kind <= 2 ? calls_by_kind[kind] : -1; }
FAKE_EXPORT int fake_hbw_frees() { return frees; }
