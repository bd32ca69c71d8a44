#!/usr/bin/env bash
# Times morvel end to end against the yardstick (scan_floor: read(2) + std::from_chars on
# every token) and against cat, on generated narrowband files of 2,000,000 and 10,000,000
# records. Prints the median times, the ratio morvel / yardstick and morvel's peak resident
# memory.
#
# Usage: bench/run.sh [RUNS]    RUNS: timed rounds per file (default 7, odd keeps the
#                               median a real run)
#
# Builds what it needs in build/bench (Release, benchmarks on, tests off). The files go to a
# temporary folder that is removed at the end. All three commands are started the same way
# (setsid, /usr/bin/time for the peak memory), one after the other in each round, so the
# overhead is the same for each and a slow spell on a shared machine hits all of them.
set -euo pipefail
export LC_ALL=C

runs=${1:-7}
if ! [[ $runs =~ ^[1-9][0-9]*$ ]]; then
  echo "usage: bench/run.sh [RUNS]" >&2
  exit 2
fi
if ! [ -x /usr/bin/time ]; then
  echo "bench/run.sh: needs /usr/bin/time (Debian package 'time')" >&2
  exit 1
fi

root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/bench"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DMORVEL_BUILD_BENCHMARKS=ON \
  -DMORVEL_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target morvel make_signal scan_floor >/dev/null
morvel="$build/app/morvel"
make_signal="$build/tools/make_signal"
scan_floor="$build/bench/scan_floor"

work=$(mktemp -d "${TMPDIR:-/tmp}/morvel_bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"  # morvel writes morvel.out into its current folder

# Runs "$@" detached from the terminal under /usr/bin/time, stdin from file $1, stdout to
# file $2, stderr to file $3. Sets `elapsed` (microseconds, wall clock) and `peak` (KiB).
# Fails on a non-zero exit.
timed() {
  local input=$1 output=$2 errors=$3
  shift 3
  local start=$EPOCHREALTIME
  if ! setsid -w /usr/bin/time -f '%M' -o "$work/rss" "$@" <"$input" >"$output" 2>"$errors"; then
    cat "$errors" >&2
    echo "bench/run.sh: '$*' failed" >&2
    exit 1
  fi
  local stop=$EPOCHREALTIME
  elapsed=$((${stop/./} - ${start/./}))
  peak=$(tail -n 1 "$work/rss")
}

median() {
  printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'
}

seconds() {
  awk -v us="$1" 'BEGIN { printf "%.4f", us / 1e6 }'
}

# The benchmark file: narrowband noise at 100 samples per cycle, so that 2,000,000 records
# hold about 40,000 peaks, within the peak store's 50,000.
bench_file() {
  local records=$1
  local file="$work/narrowband_$records.txt"
  local start=$EPOCHREALTIME
  "$make_signal" --kind narrowband --records "$records" --rate 1000 --frequency 10 --seed 1 \
    --output "$file"
  local made=$((${EPOCHREALTIME/./} - ${start/./}))
  printf '%s\n' "$file" >"$work/name"
  cat "$file" >/dev/null  # into the page cache
  cat "$file" >/dev/null

  local -a morvel_us=() floor_us=() cat_us=()
  local morvel_peak=0 floor_peak=0
  local expected_samples=$((records < 2000000 ? records : 2000000))
  for ((round = 1; round <= runs; round++)); do
    timed "$work/name" "$work/morvel.stdout" "$work/morvel.stderr" "$morvel"
    morvel_us+=("$elapsed")
    if ((peak > morvel_peak)); then morvel_peak=$peak; fi
    timed /dev/null "$work/floor.stdout" /dev/null "$scan_floor" "$file"
    floor_us+=("$elapsed")
    if ((peak > floor_peak)); then floor_peak=$peak; fi
    timed /dev/null /dev/null /dev/null cat "$file"
    cat_us+=("$elapsed")
  done

  # Both readers must have seen the whole input they are meant to read.
  if ! grep -q "Total samples = $expected_samples " "$work/morvel.stdout"; then
    echo "bench/run.sh: morvel did not report $expected_samples samples:" >&2
    cat "$work/morvel.stdout" >&2
    exit 1
  fi
  local tokens
  tokens=$(awk '{ print $2 }' "$work/floor.stdout")
  if [ "$tokens" != $((2 * records)) ]; then
    echo "bench/run.sh: scan_floor converted $tokens numbers, not $((2 * records))" >&2
    exit 1
  fi

  local m f c
  m=$(median "${morvel_us[@]}")
  f=$(median "${floor_us[@]}")
  c=$(median "${cat_us[@]}")
  local size
  size=$(stat -c %s "$file")
  echo
  printf 'narrowband, %d records, %.1f MB (generated in %s s); median of %d runs:\n' \
    "$records" "$(awk -v b="$size" 'BEGIN { print b / 1e6 }')" "$(seconds "$made")" "$runs"
  printf '  %-32s %8s s   peak %6.1f MiB\n' "morvel (end to end)" "$(seconds "$m")" \
    "$(awk -v k="$morvel_peak" 'BEGIN { print k / 1024 }')"
  printf '  %-32s %8s s   peak %6.1f MiB\n' "yardstick (scan_floor)" "$(seconds "$f")" \
    "$(awk -v k="$floor_peak" 'BEGIN { print k / 1024 }')"
  printf '  %-32s %8s s\n' "cat FILE > /dev/null" "$(seconds "$c")"
  local note="(goal <= 0.6)"
  if ((records > 2000000)); then
    note="(morvel reads only the first 2000000 records)"
  fi
  printf '  %-32s %8s       %s\n' "ratio morvel / yardstick" \
    "$(awk -v m="$m" -v f="$f" 'BEGIN { printf "%.3f", m / f }')" "$note"
  printf '  %-32s %8s MiB   (goal <= 24 MiB)\n' "morvel peak resident memory" \
    "$(awk -v k="$morvel_peak" 'BEGIN { printf "%.1f", k / 1024 }')"
  if [ -s "$work/morvel.stderr" ]; then
    sed 's/^/  morvel said: /' "$work/morvel.stderr"
  fi
  rm -f "$file"
}

echo "morvel: $morvel"
echo "machine: $(nproc) cores, load average $(cut -d ' ' -f 1-3 /proc/loadavg)"
bench_file 2000000
bench_file 10000000
