#!/usr/bin/env bash
# Runs the page and encoding benchmarks (three times, medians) and prints the ratios that
# matter: a build with a 4 MB field against one with a 1 MB field (linear
# means near 4), and the value encoding against ICU's raw conversion.
set -euo pipefail
bench=${1:-"$(dirname "$0")/../build/bench/heartpage_bench"}
"$bench" --benchmark_format=json --benchmark_filter='LargeField|EncodeValue|IcuRaw|Defaults' \
  --benchmark_repetitions=3 --benchmark_report_aggregates_only=true |
python3 -c '
import json, sys
runs = {b["run_name"]: b for b in json.load(sys.stdin)["benchmarks"] if b["aggregate_name"] == "median"}
def ns(name): return runs[name]["real_time"] * {"ns": 1, "us": 1e3, "ms": 1e6}[runs[name]["time_unit"]]
for n in range(1, 9):
    name = "BM_BuildFromDefaults/%d" % n
    print("style %d from defaults: %8.1f us" % (n, ns(name) / 1e3))
ratio = ns("BM_BuildStyle1WithLargeField/4194304") / ns("BM_BuildStyle1WithLargeField/1048576")
print(f"style 1, 4 MB field / 1 MB field: {ratio:.2f} (linear: 4)")
ratio = ns("BM_BuildStyle1WithLargeField/16777216") / ns("BM_BuildStyle1WithLargeField/4194304")
print(f"style 1, 16 MB field / 4 MB field: {ratio:.2f} (linear: 4; both beyond the caches)")
mbps = runs["BM_EncodeValue"]["bytes_per_second"] / 1e6
share = ns("BM_EncodeValue") / ns("BM_IcuRawConversion")
print("EncodeValue: %.0f MB/s of input, %.2f x the time of ICU raw conversion" % (mbps, share))
'
