#!/usr/bin/env bash
# Installs the build into a temporary prefix, checks what lands there, and runs the installed
# morvel and make_signal on the narrowband example (through example_test.sh).
# usage: install_test.sh CMAKE BUILD_DIR EXAMPLES_DIR AUTHOR CONTACT
set -uo pipefail

cmake=$1
build=$2
examples=$3
author=$4
contact=$5
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
failures=0
work=$(mktemp -d)
trap 'rm -rf -- "$work"' EXIT
prefix="$work/prefix"

fail() {
    printf 'FAIL: %s\n' "$*" >&2
    failures=$((failures + 1))
}

"$cmake" --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1 || {
    cat "$work/install.log" >&2
    echo "FAIL: cmake --install failed" >&2
    exit 1
}

for program in morvel make_signal plot_density; do
    [ -x "$prefix/bin/$program" ] || fail "bin/$program is not installed as a program"
done
page="$prefix/share/man/man1/morvel.1"
cmp -s "$page" "$source_dir/docs/morvel.1" || fail "share/man/man1/morvel.1 is not docs/morvel.1"

# The installed programs reproduce an example, run from their installed place.
bash "$here/example_test.sh" narrowband "$prefix/bin/morvel" "$prefix/bin/make_signal" \
    "$examples" "$author" "$contact" || fail "the installed programs do not reproduce the example"
"$prefix/bin/plot_density" --help >"$work/help" 2>&1 && grep -q '^Usage: plot_density' "$work/help" ||
    fail "the installed plot_density --help: $(cat "$work/help")"

# The man page is well formed and found under the prefix, where man is installed.
if command -v groff >/dev/null 2>&1; then
    groff -man -Tutf8 -ww -z "$page" >"$work/groff" 2>&1
    [ ! -s "$work/groff" ] || fail "groff warns about morvel.1: $(cat "$work/groff")"
fi
if command -v man >/dev/null 2>&1; then
    found=$(MANPATH="$prefix/share/man" man -w morvel 2>&1)
    [ "$found" = "$page" ] || fail "man -w morvel finds '$found', not $page"
fi

[ "$failures" -eq 0 ] || { echo "$failures failure(s)" >&2; exit 1; }
echo "all passed"
