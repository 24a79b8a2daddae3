#!/usr/bin/env bash
# Builds the fuzz preset and runs each libFuzzer target for a bounded time from seeds written at
# run time. Fails on any report (crash, sanitizer finding, broken promise, leak, timeout, OOM);
# the input that caused it is kept under build/fuzz/findings/ (give that file to the target to
# replay it; once fixed, copy it to fuzz/regressions/TARGET/, which every run replays first).
#   FUZZ_SECONDS  time for four targets' worth (default: 60 when CI=true, else 10), shared by
#                 all the targets so that a run takes as long as it did with four
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${FUZZ_SECONDS:-10}
if [ -z "${FUZZ_SECONDS:-}" ] && [ "${CI:-}" = true ]; then seconds=60; fi
targets=(conversion decode_row archive iso8211 usgsdem options geotiff)
seconds=$((seconds * 4 / ${#targets[@]}))
[ "$seconds" -ge 1 ] || seconds=1

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j 2
bin=build/fuzz
findings=$PWD/build/fuzz/findings

# The conversion target writes modules on every run: keep them in memory when possible, and the
# directory short, as typed paths keep only 39 characters.
base=/tmp
if [ -d /dev/shm ] && [ -w /dev/shm ]; then base=/dev/shm; fi
work=$(mktemp -d "$base/mwfz.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$findings"

"$bin/fuzz_seeds" "$work/seeds/conversion" "$work/seeds/decode_row" "$work/seeds/archive" \
  "$work/seeds/iso8211" "$work/seeds/usgsdem" "$work/seeds/options" "$work/seeds/geotiff"

status=0
# First every input that once found a fault, kept under fuzz/regressions/TARGET/: each must now run
# clean.
for target in "${targets[@]}"; do
  kept=(fuzz/regressions/"$target"/*)
  [ -e "${kept[0]}" ] || continue
  printf '\n---- fuzz_%s replays %s kept inputs\n' "$target" "${#kept[@]}"
  if ! TMPDIR=$work "$bin/fuzz_$target" "${kept[@]}" >"$work/$target.replay" 2>&1; then
    status=1
    tail -n 40 "$work/$target.replay"
    printf '**fuzz_%s fails on a kept input again**\n' "$target"
  fi
done

for target in "${targets[@]}"; do
  printf '\n---- fuzz_%s for %s s\n' "$target" "$seconds"
  mkdir -p "$work/corpus/$target"
  log=$work/$target.log
  if TMPDIR=$work "$bin/fuzz_$target" \
      -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
      -dict="fuzz/$target.dict" -print_final_stats=1 \
      -artifact_prefix="$findings/$target-" \
      "$work/corpus/$target" "$work/seeds/$target" >"$log" 2>&1; then
    grep -E '^#[0-9]+[[:space:]]+DONE|^stat::(number_of_executed_units|average_exec_per_sec|new_units_added)' \
      "$log" || true
  else
    status=1
    tail -n 60 "$log"
    printf '**fuzz_%s reported a finding; the input is in %s**\n' "$target" "$findings"
  fi
done
exit "$status"
