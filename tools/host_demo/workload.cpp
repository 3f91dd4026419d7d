// workload.cpp - the demo's built-in products.
//
// Two model sizes: hidden 768 with 12 heads of 64 (a small encoder or
// decoder) and hidden 4096 with 32 heads of 128 (a 7B-class decoder), each
// with a feed-forward width of four times the hidden size.  A host keeps a
// layer's weights as [out x in] row-major and multiplies activations
// [tokens x in] by their transpose, so the projections are SGEMMs with B
// transposed.  One token (a decoding step) runs the projections as SGEMVs,
// and attends over a cache of 512 earlier tokens: scores K q (K cached as
// [512 x head]) and the weighted values V' p.  More tokens (a prompt) run
// the projections as SGEMMs and attention per head among themselves:
// scores Q K' and values P V.
#include "workload.h"

#include <string>

namespace demo {

namespace {

constexpr uint32_t kCachedTokens = 512;  // the context a decoding step attends to
const uint32_t kTokenCounts[] = {1, 8, 32, 128, 512};
const uint32_t kSquares[] = {64, 128, 256, 512, 1024, 2048};

// One model size.
struct Model {
    uint32_t hidden;  // width of the residual stream
    uint32_t head;    // width of one attention head
};
const Model kModels[] = {{768, 64}, {4096, 128}};

// A row-major SGEMM C (m x n) := A op(B), and an SGEMV y := op(A) x with A m x n.
Product gemm(std::string label, bool trans_b, uint32_t m, uint32_t n, uint32_t k) {
    return {std::move(label), false, false, trans_b, m, n, k};
}
Product gemv(std::string label, bool trans, uint32_t m, uint32_t n) {
    return {std::move(label), true, trans, false, m, n, 0};
}

void add_layer(const Model &model, uint32_t tokens, std::vector<Product> &rows) {
    const uint32_t h = model.hidden, d = model.head, ffn = 4 * model.hidden;
    const std::string at = "h=" + std::to_string(h) + " t=" + std::to_string(tokens) + " ";
    // (name, output width, input width) of the four weight matrices.
    struct Linear {
        const char *name;
        uint32_t out, in;
    };
    const Linear linears[] = {
        {"QKV projection", 3 * h, h}, {"attention output", h, h}, {"FFN up", ffn, h}, {"FFN down", h, ffn}};
    for (const Linear &l : linears)
        rows.push_back(tokens == 1 ? gemv(at + l.name, false, l.out, l.in)
                                   : gemm(at + l.name, true, tokens, l.out, l.in));
    if (tokens == 1) {
        rows.push_back(gemv(at + "scores K q, 512 cached", false, kCachedTokens, d));
        rows.push_back(gemv(at + "values V' p, 512 cached", true, kCachedTokens, d));
    } else {
        rows.push_back(gemm(at + "scores Q K', per head", true, tokens, tokens, d));
        rows.push_back(gemm(at + "values P V, per head", false, tokens, d, tokens));
    }
}

}  // namespace

Workload inference_workload() {
    Workload w;
    for (const Model &model : kModels)
        for (uint32_t tokens : kTokenCounts) add_layer(model, tokens, w.rows);
    for (uint32_t size : kSquares) w.rows.push_back(gemm("square " + std::to_string(size), false, size, size, size));
    // The compared row: a prompt of 128 tokens through the large model's
    // attention output, a product every kernel set runs in tens of milliseconds.
    for (size_t i = 0; i < w.rows.size(); ++i)
        if (w.rows[i].label == "h=4096 t=128 attention output") w.compared = i;
    return w;
}

Workload given_workload(const std::vector<Product> &products) {
    Workload w;
    w.rows = products;
    return w;
}

}  // namespace demo
