#!/usr/bin/env bash
# A compact Markdown table of a suite run, for the README: for the run on
# the machine's own identity and for the last run of each family (the
# fastest kernel set that ran it), per family and thread count, libvorte_blas
# against the best other library: the geometric mean and range of the ratio
# over the family's sizes, and both speeds at the largest size.
#   bench/summarize_suite.sh SUITE_CSV > summary.md
set -euo pipefail
csv="$1"
# CSV columns used: 1 run, 2 set, 3 family, 5 trans, 6 m, 7 n, 8 k, 9 size,
# 10 threads, 11 library, 12 gflops, 13 gbytes, 16 share of ceiling.
awk -F, '
  function speed_text(gflops, gbytes) { return gbytes > 0 ? sprintf("%.1f GB/s", gbytes) : sprintf("%.1f GFLOP/s", gflops) }
  NR == 1 { next }
  {
    row = $1 SUBSEP $3 SUBSEP $5 SUBSEP $9 SUBSEP $10
    if (!(row in seen)) { seen[row] = 1; rows[++nrows] = row }
    if ($11 ~ /^libvorte_blas/) { ours[row] = $12; ours_set[row] = $2; share[row] = $16; speed[row] = speed_text($12, $13) }
    else if ($12 > peer[row]) { peer[row] = $12; peer_name[row] = $11; peer_speed[row] = speed_text($12, $13) }
    if (!(($3) in last_run) || last_run[$3] != $1) { last_run[$3] = $1 }
    if (!(($1 SUBSEP $3) in family_seen)) { family_seen[$1 SUBSEP $3] = 1; order[++nfam] = $1 SUBSEP $3 }
  }
  END {
    print "| run (kernel set) | family | op | threads | ours / best other: geometric mean (range) | at the largest size: ours (share of ceiling) | best other |"
    print "|---|---|---|---|---|---|---|"
    for (f = 1; f <= nfam; ++f) {
      split(order[f], rf, SUBSEP)
      if (rf[1] != "default" && last_run[rf[2]] != rf[1]) continue
      delete groups; ngroups = 0
      for (i = 1; i <= nrows; ++i) {
        split(rows[i], r, SUBSEP)
        if (r[1] != rf[1] || r[2] != rf[2] || !(rows[i] in ours) || peer[rows[i]] <= 0) continue
        g = r[3] SUBSEP r[5]
        if (!(g in count)) { groups[++ngroups] = g }
        ratio = ours[rows[i]] / peer[rows[i]]
        logsum[g] += log(ratio); count[g]++
        if (!(g in lo) || ratio < lo[g]) lo[g] = ratio
        if (!(g in hi) || ratio > hi[g]) hi[g] = ratio
        if (r[4] + 0 >= largest[g] + 0) { largest[g] = r[4]; at[g] = rows[i] }
      }
      for (j = 1; j <= ngroups; ++j) {
        g = groups[j]; split(g, gk, SUBSEP); a = at[g]
        printf "| %s (%s) | %s | %s | %s | %.2f (%.2f-%.2f) | %s (%.0f %%) | %s, %s |\n", rf[1], ours_set[a], rf[2],
               gk[1], gk[2], exp(logsum[g] / count[g]), lo[g], hi[g], speed[a], 100 * share[a], peer_speed[a], peer_name[a]
        delete count[g]; delete logsum[g]; delete lo[g]; delete hi[g]; delete largest[g]
      }
    }
  }' "$csv"
