#!/usr/bin/env bash
# Draws the suite's plots with gnuplot: one PNG per shape family, GFLOP/s
# against size (logarithmic, the sizes span decades), one panel per thread
# count.  The lines: libvorte_blas as the machine runs it without settings
# (run "default"), libvorte_blas on the fastest kernel set that ran the
# family (the last run that has it), and each baseline in that last run,
# on its kernel for the same instruction set.  SGEMV draws y = A x solid and
# y = A' x dashed.
#   bench/plot_suite.sh SUITE_CSV OUT_DIR HOST_NAME
set -euo pipefail
csv="$1" out="$2" host="$3"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# CSV columns used: 1 run, 3 family, 5 trans, 9 size, 10 threads, 11 library, 12 gflops.
column() { awk -F, -v f="$1" -v c="$2" 'NR > 1 && $3 == f { print $c }' "$csv"; }

# Writes size and GFLOP/s of one line to a file: points RUN LIBRARY THREADS TRANS FILE.
points() {
  awk -F, -v f="$family" -v r="$1" -v l="$2" -v t="$3" -v tr="$4" \
    'NR > 1 && $3 == f && $1 == r && $11 == l && $10 == t && substr($5, 1, 1) == tr { print $9, $12 }' "$csv" |
    sort -n > "$5"
}

plot_family() {
  local family="$1" title="$2" xlabel="$3"
  local runs best threads_list libraries trans_list
  runs=$(column "$family" 1 | awk '!seen[$0]++')
  [ -n "$runs" ] || return 0
  best=$(echo "$runs" | tail -1)
  threads_list=$(column "$family" 10 | sort -nu)
  trans_list=N
  [ "$family" = sgemv ] && trans_list="N T"

  # (run, library, title) of every line.
  local lines=()
  if echo "$runs" | grep -qx default; then
    local ours_default
    ours_default=$(awk -F, -v f="$family" 'NR > 1 && $3 == f && $1 == "default" && $11 ~ /^libvorte_blas/ { print $11; exit }' "$csv")
    lines+=("default|$ours_default|$ours_default, no settings")
  fi
  while IFS= read -r library; do
    [ -z "$library" ] && continue
    if [[ "$library" == libvorte_blas* ]] && [ "$best" = default ]; then continue; fi
    lines+=("$best|$library|$library")
  done < <(awk -F, -v f="$family" -v r="$best" 'NR > 1 && $3 == f && $1 == r { print $11 }' "$csv" | awk '!seen[$0]++')

  {
    echo "set terminal pngcairo noenhanced size 1400,600 font ',10'"
    echo "set output '$out/$family.png'"
    echo "set multiplot layout 1,$(echo "$threads_list" | wc -l) title \"$title on $host\" font ',12'"
    echo "set logscale x 2; set grid; set key top right opaque box; set xlabel '$xlabel'; set ylabel 'GFLOP/s'"
    echo "set yrange [0:*]; set offsets 0, 0, graph 0.45, 0"
    for threads in $threads_list; do
      echo "set title '$threads thread$([ "$threads" = 1 ] || echo s)'"
      local plots=() index=0
      for entry in "${lines[@]}"; do
        IFS='|' read -r run library label <<< "$entry"
        index=$((index + 1))
        for trans in $trans_list; do
          local file="$work/$family-$threads-$index-$trans.dat" suffix="" dash=1
          points "$run" "$library" "$threads" "$trans" "$file"
          [ -s "$file" ] || continue
          if [ "$family" = sgemv ]; then suffix=$([ "$trans" = N ] && echo ", A x" || echo ", A' x"); fi
          [ "$trans" = T ] && dash=2
          plots+=("'$file' using 1:2 with linespoints lw 2 pt 7 ps 0.8 lc $index dt $dash title \"$label$suffix\"")
        done
      done
      [ ${#plots[@]} -gt 0 ] && (IFS=,; echo "plot ${plots[*]}")
    done
    echo "unset multiplot"
  } > "$work/$family.gp"
  gnuplot "$work/$family.gp"
  echo "plot:  $out/$family.png"
}

plot_family square "SGEMM n x n x n, row-major" "n"
plot_family skinny "SGEMM tokens x 4096 x 4096, weights stored transposed (NT)" "tokens (M)"
plot_family small "SGEMM n x n x n, small" "n"
plot_family sgemv "SGEMV n x n, row-major" "n"
