#!/usr/bin/env bash
# A peer's file list, from the file to the list held, side by side with
# bzcat on the same file (the floor: decompression alone, its text thrown
# away). Lists of 10,000, 100,000 and 1,000,000 files in nested folders
# (bench/gen_file_list.py, then bzip2 -9) are made once and kept in
# <build-dir>/file-lists. For each: the best of the rounds of
# `bzcat list >/dev/null` and of Kivo's reader (bench/file_list_open.cpp:
# file_list_open, then file_list_close, in a process of its own each round,
# taken in turns with bzcat), their ratio (target: at most 1.5) and the
# ratio of their best CPU times (user and system; less moved by other load
# on the machine),
# the reader's peak resident memory while it reads (VmHWM, the process's
# whole), what the open list holds (resident memory open against before),
# and its resident memory after closing against before (target: within
# 200 kB): of a second open in the process, and in brackets of the first,
# which pages in the reader's code and tables once. Not part of the test
# suite.
#
#   bash bench/file_list.sh [build-dir] [rounds] [sizes...]   (default: build/bench, 3, 10000 100000 1000000)
#
# The build directory is configured with -DKIVO_BENCH=ON (Release) when it
# has no cache yet; an existing one is used as it is.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$repo/build/bench}
rounds=${2:-3}
shift 2 2>/dev/null || shift $#
sizes=${*:-10000 100000 1000000}

if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$repo" -B "$build" -G Ninja -DKIVO_BENCH=ON -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$build" --target file_list_open -j2 >/dev/null
mkdir -p "$build/file-lists"

now_ms() { echo $(($(date +%s%N) / 1000000)); }

failed=0
printf '%8s %8s %9s %9s %8s %6s %10s %9s %9s %13s\n' files "bz2 KiB" "text MiB" "bzcat ms" "kivo ms" ratio "CPU ratio" \
    "peak KiB" "held KiB" "after-before"
for n in $sizes; do
    list="$build/file-lists/list-$n.xml.bz2"
    if [ ! -f "$list" ]; then
        python3 "$repo/bench/gen_file_list.py" "$n" | bzip2 -9 >"$list.new"
        mv "$list.new" "$list"
    fi
    text_mib=$(bzcat "$list" | wc -c | awk '{ printf "%.1f", $1 / 1048576 }')
    # Rounds of the two taken in turns, so that both meet the same load.
    best_bzcat=""
    best_bzcat_cpu=""
    out=""
    for _ in $(seq "$rounds"); do
        start=$(now_ms)
        cpu=$( { /usr/bin/time -f "%U %S" bzcat "$list" >/dev/null; } 2>&1 | awk '{ printf "%d", ($1 + $2) * 1000 }')
        took=$(($(now_ms) - start))
        if [ -z "$best_bzcat" ] || [ "$took" -lt "$best_bzcat" ]; then best_bzcat=$took; fi
        if [ -z "$best_bzcat_cpu" ] || [ "$cpu" -lt "$best_bzcat_cpu" ]; then best_bzcat_cpu=$cpu; fi
        out+="$("$build/bench/file_list_open" "$list" 1)"$'\n'
    done
    # Memory: two opens in one process. The first pages in the reader's code
    # and tables (libbz2, expat, the reader: once per process); the second
    # shows what an open and a close leave behind.
    out2=$("$build/bench/file_list_open" "$list" 2)
    read -r best_kivo best_kivo_cpu peak held < <(echo -n "$out" | awk '
        { for (i = 3; i < NF; i += 2) v[$i] = $(i + 1)
          if (best == "" || v["open_ms"] + 0 < best + 0) best = v["open_ms"]
          if (cpu == "" || v["cpu_ms"] + 0 < cpu + 0) cpu = v["cpu_ms"]
          if (v["peak_kb"] + 0 > peak + 0) peak = v["peak_kb"]
          if (v["rss_open_kb"] - v["rss_before_kb"] > held + 0) held = v["rss_open_kb"] - v["rss_before_kb"] }
        END { print best, cpu, peak, held }')
    read -r first growth < <(echo "$out2" | awk '
        { for (i = 3; i < NF; i += 2) v[$i] = $(i + 1); g[NR] = v["rss_after_kb"] - v["rss_before_kb"] }
        END { print g[1], g[2] }')
    ratio=$(awk -v k="$best_kivo" -v b="$best_bzcat" 'BEGIN { printf "%.2f", (b > 0 ? k / b : 0) }')
    cpu_ratio=$(awk -v k="$best_kivo_cpu" -v b="$best_bzcat_cpu" 'BEGIN { printf "%.2f", (b > 0 ? k / b : 0) }')
    printf '%8d %8d %9s %9d %8d %6s %10s %9d %9d %13s\n' "$n" $(($(stat -c %s "$list") / 1024)) "$text_mib" \
        "$best_bzcat" "$best_kivo" "$ratio" "$cpu_ratio" "$peak" "$held" "$growth ($first)"
    if awk -v r="$ratio" 'BEGIN { exit !(r > 1.5) }'; then echo "  ratio $ratio is above 1.5"; failed=1; fi
    if [ "$growth" -gt 200 ]; then echo "  $growth kB more resident after closing than before"; failed=1; fi
done
exit $failed
