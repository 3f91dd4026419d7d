// thread_settings.cpp - the process-wide thread settings and their plain
// setters and getters.
//
// Setters store their value at once, before or after the environment is
// read: the first reading fills only the settings that are still unset, so
// a setter always wins.  Getters of values that come from the environment or
// the core count perform the first reading when it has not happened yet.
#include <omp.h>

#include "orb_threads.h"
#include "service/thread_settings.h"

ThreadSettings orb_thread_settings;

Setting *const orb_domain_threads[kDomainCount] = {
    &orb_thread_settings.all_threads,     &orb_thread_settings.blas_threads,
    &orb_thread_settings.fft_threads,     &orb_thread_settings.eltwise_threads,
    &orb_thread_settings.sparse_threads,
};

namespace {

// The value of setting, after the first reading.
int read_setting(const Setting &setting) {
    orb_read_thread_environment_once();
    return setting.get();
}

}  // namespace

extern "C" {

void orb_serv_set_num_threads(int n) {
    if (n > 0) orb_thread_settings.all_threads.set(n);
}

int orb_serv_domain_set_num_threads(int n, unsigned int domain) {
    if (n < 0 || domain >= kDomainCount) return 0;
    orb_domain_threads[domain]->set(n);
    return 1;
}

int orb_serv_get_dynamic(void) { return read_setting(orb_thread_settings.dynamic); }

int orb_serv_set_dynamic(int v) {
    int dynamic = v != 0;
    orb_thread_settings.dynamic.set(dynamic);
    return dynamic;
}

int orb_serv_mpi_safe(int v) {
    int safe = v == 1;
    orb_thread_settings.mpi_safety.set(safe);
    return safe;
}

int orb_serv_omp_in_parallel(void) { return omp_in_parallel(); }

int orb_serv_get_num_stripes(void) { return read_setting(orb_thread_settings.num_stripes); }

void orb_serv_set_num_stripes(int v) {
    if (v >= 0) orb_thread_settings.num_stripes.set(v);
}

int orb_serv_get_ncpus(void) { return read_setting(orb_thread_settings.packages); }

int orb_serv_get_ncorespercpu(void) { return read_setting(orb_thread_settings.cores_per_package); }

int orb_serv_get_ht(void) { return read_setting(orb_thread_settings.hyperthreading); }

int orb_serv_get_nlogicalcores(void) { return read_setting(orb_thread_settings.logical_cores); }

int orb_serv_get_thread_layer(void) { return 0; }

}  // extern "C"
