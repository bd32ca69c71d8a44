#!/usr/bin/env bash
# Builds a fuzz target against libFuzzer with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer on) and fuzzes it, one process on one core.
#
#   fuzz/run.sh TARGET [SECONDS] [libFuzzer options...]
#
# TARGET is scanner, number_text or analysis; SECONDS defaults to 600. New inputs go to
# build/fuzz/TARGET/corpus (the committed corpus/TARGET is read, never written); a crashing
# input is written to build/fuzz/TARGET/ as crash-*. Needs clang++ and Debian's
# libclang-rt-14-dev (libFuzzer and the sanitizer runtimes for clang).
set -euo pipefail

target=${1:?usage: fuzz/run.sh TARGET [SECONDS] [libFuzzer options...]}
seconds=${2:-600}
shift $(($# < 2 ? $# : 2))

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
out="$root/build/fuzz/$target"
cxx=${CXX_FUZZ:-clang++}
mkdir -p "$out/corpus"

# The program's sources as they are, no CMake: the same flags as the build, plus the
# instrumentation. No -ffast-math, no FMA contraction.
"$cxx" -std=c++20 -O1 -g -ffp-contract=off -fno-omit-frame-pointer \
    -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
    -I"$root/analysis" -I"$root/app" \
    "$here/${target}_fuzz.cpp" "$root"/analysis/*.cpp "$root/app/number_text.cpp" \
    -o "$out/fuzzer"

# The text-reading targets get a dictionary of number pieces.
dict=()
if [ "$target" != number_text ]; then
    dict=(-dict="$here/numbers.dict")
fi

cd "$out"
exec ./fuzzer "${dict[@]}" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    "$@" corpus "$here/corpus/$target"
