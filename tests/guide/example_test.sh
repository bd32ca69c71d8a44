#!/usr/bin/env bash
# Checks one example in examples/NAME/:
#   - the make_signal command that examples/README.md gives for NAME.txt remakes it exactly;
#   - morvel, run detached from any terminal in a fresh folder with the file name on standard
#     input, prints report.txt (with this build's banner) and writes morvel.out, byte for byte;
#   - an independent awk reference (reference.awk) computes the same report and morvel.out.
# usage: example_test.sh NAME MORVEL MAKE_SIGNAL EXAMPLES_DIR AUTHOR CONTACT
set -uo pipefail

name=$1
morvel=$2
make_signal=$3
examples=$4
author=$5
contact=$6
here=$(cd "$(dirname "$0")" && pwd)
example="$examples/$name"
failures=0
work=$(mktemp -d)
trap 'rm -rf -- "$work"' EXIT

fail() {
    printf 'FAIL: %s\n' "$*" >&2
    failures=$((failures + 1))
}

# 1. The documented command remakes the input.
command_line=$(grep -E "^make_signal .* --output $name\.txt\$" "$examples/README.md")
if [ "$(printf '%s\n' "$command_line" | grep -c .)" -ne 1 ]; then
    fail "examples/README.md should give one 'make_signal ... --output $name.txt' line"
else
    read -r -a words <<<"$command_line"
    mkdir "$work/made"
    (cd "$work/made" && "$make_signal" "${words[@]:1}") || fail "make_signal failed: $command_line"
    cmp -s "$work/made/$name.txt" "$example/$name.txt" ||
        fail "'$command_line' does not remake $name.txt"
fi

# 2. morvel gives the expected report and morvel.out. The expected report has the default
# banner; this build may have been configured with another author and contact.
mkdir "$work/run"
cp "$example/$name.txt" "$work/run/"
(cd "$work/run" && printf '%s\n' "$name.txt" | setsid -w "$morvel" >"$work/stdout" 2>"$work/stderr")
status=$?
[ "$status" -eq 0 ] || fail "morvel exited with status $status"
[ ! -s "$work/stderr" ] || fail "morvel wrote to standard error: $(cat "$work/stderr")"
awk -v author=" by $author " -v contact=" Email:  $contact " '
    $0 == " by morvel developers " { print author; next }
    $0 == " Email:  morvel@example.org " { print contact; next }
    { print }' "$example/report.txt" >"$work/expected_report"
cmp "$work/stdout" "$work/expected_report" || {
    fail "the report differs from $name/report.txt"
    diff "$work/expected_report" "$work/stdout" | head -20 >&2
}
cmp "$work/run/morvel.out" "$example/morvel.out" || {
    fail "morvel.out differs from $name/morvel.out"
    diff "$example/morvel.out" "$work/run/morvel.out" | head -20 >&2
}

# 3. The expected files agree with the independent reference.
LC_ALL=C awk -v what=density -f "$here/reference.awk" "$example/$name.txt" >"$work/ref.out"
cmp -s "$work/ref.out" "$example/morvel.out" || {
    fail "the reference computes another morvel.out"
    diff "$example/morvel.out" "$work/ref.out" | head -20 >&2
}
LC_ALL=C awk -v what=report -f "$here/reference.awk" "$example/$name.txt" >"$work/ref_report"
# The reference starts at the blank line before " Total samples".
awk '/^ Total samples/ { print ""; found = 1 } found' "$example/report.txt" >"$work/report_tail"
cmp -s "$work/ref_report" "$work/report_tail" || {
    fail "the reference computes another report"
    diff "$work/report_tail" "$work/ref_report" | head -20 >&2
}

[ "$failures" -eq 0 ] || { echo "$failures failure(s)" >&2; exit 1; }
echo "all passed"
