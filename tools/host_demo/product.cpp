// product.cpp - how a product is named in the tables and on the command line.
#include "product.h"

#include <cstdio>

namespace demo {

namespace {

std::string dimensions(const Product &p, const char *separator) {
    char text[64];
    if (p.gemv)
        std::snprintf(text, sizeof text, "%u%s%u", p.m, separator, p.n);
    else
        std::snprintf(text, sizeof text, "%u%s%u%s%u", p.m, separator, p.n, separator, p.k);
    return text;
}

std::string transpositions(const Product &p) {
    std::string t(1, p.trans_a ? 'T' : 'N');
    if (!p.gemv) t += p.trans_b ? 'T' : 'N';
    return t;
}

}  // namespace

std::string describe(const Product &p) {
    return std::string(p.gemv ? "sgemv " : "sgemm ") + dimensions(p, " x ") + " " + transpositions(p);
}

std::string as_option(const Product &p) {
    return std::string(p.gemv ? "--sgemv=" : "--sgemm=") + dimensions(p, "x") + ":" + transpositions(p);
}

}  // namespace demo
