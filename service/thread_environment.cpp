// thread_environment.cpp - the first reading of the thread settings from the
// environment.
//
// On the first query, and only once per process, the thread counts, the
// stripe count, dynamic adjustment, the OpenMP team size the user asked for
// and the MPI layout are read from the environment, and the machine's cores
// are counted.  A value is stored only into a setting that is still unset,
// so settings made through the service interface beforehand keep
// precedence.  Malformed numbers are never reported: thread counts then
// count as 1, the MPI thread level as 0, and a stripe count is ignored.
#include <algorithm>
#include <climits>
#include <string_view>

#include "orb_threads.h"
#include "service/core_count.h"
#include "service/thread_environment.h"
#include "service/thread_settings.h"

namespace {

constexpr int kValueBufferSize = 256;         // longest value read, terminator included
constexpr std::string_view kListSeparators = " \"',:;";
constexpr std::string_view kDomainNameEnd = " \"'=";
constexpr std::string_view kWordDelimiters = " \"'";
constexpr int kMpiThreadLevels = 4;           // levels 0 to 3

// Serialises the first reading.
volatile int env_read_lock = 0;

// The domain names of "ORB_DOMAIN_NUM_THREADS".
struct DomainName {
    std::string_view name;  // name as written in the list
    int domain;             // the domain it sets
};
constexpr DomainName kDomainNames[] = {
    {"ORB_DOMAIN_ALL", kDomainAll},         {"ORB_DOMAIN_BLAS", kDomainBlas},
    {"ORB_DOMAIN_FFT", kDomainFft},         {"ORB_DOMAIN_ELTWISE", kDomainEltwise},
    {"ORB_DOMAIN_SPARSE", kDomainSparse},
};

int domain_of(std::string_view name) {
    for (const DomainName &known : kDomainNames)
        if (known.name == name) return known.domain;
    return -1;
}

// Walks a text left to right, taking runs of characters.
class TextCursor {
  public:
    explicit TextCursor(std::string_view text) : text_(text) {}
    bool at_end() const { return position_ >= text_.size(); }
    void skip(std::string_view characters) {
        position_ = std::min(text_.find_first_not_of(characters, position_), text_.size());
    }
    std::string_view take_until(std::string_view stops) {
        size_t end = std::min(text_.find_first_of(stops, position_), text_.size());
        std::string_view run = text_.substr(position_, end - position_);
        position_ = end;
        return run;
    }

  private:
    std::string_view text_;  // the text walked
    size_t position_ = 0;    // index of the next character to look at
};

// The value of an environment variable; empty when it is unset, empty or
// does not fit the buffer.
std::string_view environment_value(const char *name, char (&buffer)[kValueBufferSize]) {
    int length = orb_serv_getenv(name, buffer, kValueBufferSize);
    return length >= 1 ? std::string_view(buffer, static_cast<size_t>(length)) : std::string_view();
}

// A thread count: its decimal value, or 1 when it is not decimal.
int thread_count_of(std::string_view text) {
    int count = 1;
    return orb_parse_decimal(text, &count) ? count : 1;
}

void read_num_threads(ThreadSettings &settings) {
    char buffer[kValueBufferSize];
    std::string_view text = environment_value("ORB_NUM_THREADS", buffer);
    if (text.empty()) return;
    int count = thread_count_of(text);
    if (count > 0) settings.all_threads.set_if_unset(count);
}

void read_num_stripes(ThreadSettings &settings) {
    char buffer[kValueBufferSize];
    int stripes = 0;
    if (orb_parse_decimal(environment_value("ORB_NUM_STRIPES", buffer), &stripes))
        settings.num_stripes.set_if_unset(stripes);
}

void read_domain_counts() {
    char buffer[kValueBufferSize];
    for (const DomainEntry &entry : orb_parse_domain_list(environment_value("ORB_DOMAIN_NUM_THREADS", buffer)))
        if (entry.count >= 1) orb_domain_threads[entry.domain]->set_if_unset(entry.count);
}

void read_dynamic(ThreadSettings &settings) {
    char buffer[kValueBufferSize];
    settings.dynamic.set_if_unset(orb_parse_dynamic_word(environment_value("ORB_DYNAMIC", buffer)));
}

// Only whether the user sized the OpenMP team matters; a list counts as 1.
void read_openmp_team_size(ThreadSettings &settings) {
    char buffer[kValueBufferSize];
    std::string_view text = environment_value("OMP_NUM_THREADS", buffer);
    if (text.empty()) return;
    int count = 0;
    if (!orb_parse_decimal(text, &count)) settings.omp_num_threads.set(1);
    else if (count >= 1) settings.omp_num_threads.set(count);
}

void read_mpi_thread_level(ThreadSettings &settings) {
    char buffer[kValueBufferSize];
    std::string_view text = environment_value("QX_MPI_THREAD_LEVEL", buffer);
    if (text.empty()) return;
    int level = 0;
    bool valid = orb_parse_decimal(text, &level) && level < kMpiThreadLevels;
    settings.mpi_thread_level.set(valid ? level : 0);
}

void store_core_counts(ThreadSettings &settings, const CoreCounts &counts) {
    settings.logical_cores.set(counts.logical);
    settings.physical_cores.set(counts.physical);
    settings.packages.set(counts.packages);
    settings.cores_per_package.set(counts.packages > 0 ? counts.physical / counts.packages : counts.physical);
    settings.hyperthreading.set(counts.physical != counts.logical);
}

}  // namespace

bool orb_parse_decimal(std::string_view text, int *value) {
    if (text.empty()) return false;
    long long number = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        if (number <= INT_MAX) number = number * 10 + (c - '0');
    }
    *value = number > INT_MAX ? INT_MAX : static_cast<int>(number);
    return true;
}

int orb_parse_dynamic_word(std::string_view text) {
    TextCursor cursor(text);
    cursor.skip(kWordDelimiters);
    std::string_view word = cursor.take_until(kWordDelimiters);
    return word == "FALSE" || word == "false" ? 0 : 1;
}

// Each entry is a name, then any run of "=" and spaces, then a value; entries
// are separated by any run of spaces, quotes, commas, colons and semicolons.
std::vector<DomainEntry> orb_parse_domain_list(std::string_view text) {
    std::vector<DomainEntry> entries;
    TextCursor cursor(text);
    for (cursor.skip(kListSeparators); !cursor.at_end(); cursor.skip(kListSeparators)) {
        std::string_view name = cursor.take_until(kDomainNameEnd);
        cursor.skip("= ");
        int count = thread_count_of(cursor.take_until(kListSeparators));
        int domain = domain_of(name);
        if (domain >= 0) entries.push_back({domain, count});
    }
    return entries;
}

void orb_read_thread_environment_once() {
    if (orb_thread_settings.environment_read.load(std::memory_order_acquire) == 0)
        ORB_Read_ThreadENV_Count_Cores();
}

extern "C" int ORB_Read_ThreadENV_Count_Cores(void) {
    ThreadSettings &settings = orb_thread_settings;
    orb_serv_lock(&env_read_lock);
    if (settings.environment_read.load(std::memory_order_acquire) == 0) {
        read_num_threads(settings);
        read_num_stripes(settings);
        read_domain_counts();
        read_dynamic(settings);
        read_openmp_team_size(settings);
        settings.mpi_ppn.set(orb_serv_mpi_get_ppn());
        read_mpi_thread_level(settings);
        store_core_counts(settings, orb_count_cores());
        settings.environment_read.store(1, std::memory_order_release);
    }
    orb_serv_unlock(&env_read_lock);
    return settings.hyperthreading.get();
}
