// thread_environment.h - the text rules of the thread settings' environment
// variables, as pure functions over the value of a variable.
#ifndef ORB_SERVICE_THREAD_ENVIRONMENT_H
#define ORB_SERVICE_THREAD_ENVIRONMENT_H

#include <string_view>
#include <vector>

// True when text is a non-empty run of the digits 0-9; *value then receives
// its value in base 10, limited to the largest int.
bool orb_parse_decimal(std::string_view text, int *value);

// "ORB_DYNAMIC": 0 when the first word (after spaces and quotes) is exactly
// "FALSE" or "false", otherwise 1.
int orb_parse_dynamic_word(std::string_view text);

// One entry of "ORB_DOMAIN_NUM_THREADS" with a known domain name.
struct DomainEntry {
    int domain;  // domain number 0 to 4
    int count;   // the entry's value; 1 when empty or not decimal
};

// The entries of an "ORB_DOMAIN_NUM_THREADS" list in their order; unknown names are left out.
std::vector<DomainEntry> orb_parse_domain_list(std::string_view text);

#endif
