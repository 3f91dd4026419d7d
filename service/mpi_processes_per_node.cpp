// mpi_processes_per_node.cpp - how many MPI processes share this node.
//
// When several MPI processes run on one node, each should use only its share
// of the cores.  The MPI launchers export the number of processes per node
// under different names; they are tried in a fixed order and the first
// positive number wins.  The answer, -1 when no launcher gave one, is looked
// up once and cached.
#include <atomic>
#include <string_view>

#include "orb_threads.h"
#include "service/thread_environment.h"

namespace {

// Pin mappings list every process's cores and can be long.
constexpr int kValueBufferSize = ORB_STR_MAX;
constexpr int kUnknown = -1;

// 0: not looked up yet; -1: no launcher said; otherwise processes per node.
std::atomic<int> cached_ppn{0};

// How a variable carries the count.
enum class PpnForm {
    kWholeNumber,         // the whole value is a decimal number
    kNumberBeforeColon,   // "n:..." - the decimal number before the first colon
};

struct PpnSource {
    const char *variable;  // environment variable of a launcher
    PpnForm form;          // how the count is written in it
};

constexpr PpnSource kPpnSources[] = {
    {"ORB_MPI_PPN", PpnForm::kWholeNumber},
    {"QX_MPI_NUMBER_OF_MPI_PROCESSES_PER_NODE", PpnForm::kWholeNumber},
    {"QX_MPI_PIN_MAPPING", PpnForm::kNumberBeforeColon},
    {"OMPI_COMM_WORLD_LOCAL_SIZE", PpnForm::kWholeNumber},
    {"MPI_LOCALNRANKS", PpnForm::kWholeNumber},
};

// The count a source gives, or 0 when it gives none.
int processes_from(const PpnSource &source) {
    char buffer[kValueBufferSize];
    int length = orb_serv_getenv(source.variable, buffer, kValueBufferSize);
    if (length < 1) return 0;
    std::string_view text(buffer, static_cast<size_t>(length));
    if (source.form == PpnForm::kNumberBeforeColon) {
        size_t colon = text.find(':');
        if (colon == std::string_view::npos) return 0;
        text = text.substr(0, colon);
    }
    int count = 0;
    return orb_parse_decimal(text, &count) ? count : 0;
}

int look_up_processes_per_node() {
    for (const PpnSource &source : kPpnSources)
        if (int count = processes_from(source); count > 0) return count;
    return kUnknown;
}

}  // namespace

extern "C" int orb_serv_mpi_get_ppn(void) {
    int ppn = cached_ppn.load(std::memory_order_relaxed);
    if (ppn == 0) {
        ppn = look_up_processes_per_node();
        cached_ppn.store(ppn, std::memory_order_relaxed);
    }
    return ppn;
}
