#!/usr/bin/env bash
# The bowl window's figures: the region cache against the pixel-by-pixel way, the time
# from start to a mapped bowl against a bare Qt window (10 runs, under Xvfb with
# openbox), and the idle cost over 60 s beside its peers.
# Usage: bench/bowl_figures.sh BUILD_DIR   (configured with -DKINGYO_BENCH=ON)
# kingyo runs from a copy with complete settings (bench/kingyo_copy.sh).
set -euo pipefail
build=$(realpath "${1:?usage: $0 BUILD_DIR}")
source_dir=$(realpath "$(dirname "$0")/..")
cmake --build "$build" --target kingyo region_cache_bench bare_window start_to_map bare_timers >/dev/null

source "$source_dir/bench/kingyo_copy.sh"
scratch=$(mktemp -d /tmp/kingyo-figures.XXXXXX)
trap 'rm -rf "$scratch"' EXIT
kingyo_copy "$scratch" "$build/kingyo"
cd "$scratch"

echo "== Region cache, all eight frames"
"$build/bench/region_cache_bench" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true 2>/dev/null |
    grep -E '^Benchmark|_median'

echo "== Start to mapped window"
"$source_dir/scripts/with-x11" "$build/bench/start_to_map" 10 \
    "kingyo=$scratch/kingyo" "bare_qt=$build/bench/bare_window"

echo "== Idle over 60 s"
peers=()
command -v xpenguins >/dev/null && peers+=("xpenguins=xpenguins")
[[ -x /usr/games/oneko ]] && peers+=("oneko=/usr/games/oneko")
"$source_dir/bench/idle_cpu.sh" 60 "kingyo=$scratch/kingyo" "bare_timers=$build/bench/bare_timers" "${peers[@]}"
