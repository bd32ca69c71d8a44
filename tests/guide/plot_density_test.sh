#!/usr/bin/env bash
# Tests of tools/plot_density.
#   plot_density_test.sh errors PLOT_DENSITY DENSITY_FILE: bad usage and bad input give a
#     clear message and the documented status, and leave no image behind. No gnuplot needed.
#   plot_density_test.sh render PLOT_DENSITY DENSITY_FILE: draws DENSITY_FILE (a morvel.out)
#     and checks the PNG; exits 77 (skipped) without gnuplot.
set -uo pipefail

mode=$1
plot=$2
density=$3
failures=0
work=$(mktemp -d)
trap 'rm -rf -- "$work"' EXIT

fail() {
    printf 'FAIL: %s\n' "$*" >&2
    failures=$((failures + 1))
}

# Runs plot_density in $work/run with the given arguments; sets status, out and err.
run_plot() {
    rm -rf -- "$work/run"
    mkdir -p "$work/run"
    (cd "$work/run" && "$plot" "$@" >"$work/stdout" 2>"$work/stderr")
    status=$?
    out=$(cat "$work/stdout")
    err=$(cat "$work/stderr")
}

# expect_failure NAME STATUS MESSAGE_FRAGMENT ARGS...: the run fails with STATUS, says
# MESSAGE_FRAGMENT on one "plot_density: " line of standard error, and writes no image.
expect_failure() {
    local name=$1 want_status=$2 fragment=$3
    shift 3
    run_plot "$@"
    [ "$status" -eq "$want_status" ] || fail "$name: status $status, expected $want_status"
    [[ $err == "plot_density: "*"$fragment"* ]] ||
        fail "$name: expected a message with '$fragment', got '$err'"
    [ -z "$out" ] || fail "$name: printed '$out' on standard output"
    if compgen -G "$work/run/*.png" >/dev/null; then
        fail "$name: left an image behind"
    fi
}

# png_size FILE: prints "WIDTHxHEIGHT" from the PNG header, or nothing if FILE is no PNG.
png_size() {
    local signature
    signature=$(od -An -tx1 -N16 "$1" | tr -d ' \n')
    [ "$signature" = "89504e470d0a1a0a0000000d49484452" ] || return 0
    od -An -tu1 -j16 -N8 "$1" | awk '{ printf "%dx%d", (($1 * 256 + $2) * 256 + $3) * 256 + $4,
                                                  (($5 * 256 + $6) * 256 + $7) * 256 + $8 }'
}

# expect_png NAME FILE SIZE: FILE is a non-empty PNG of SIZE pixels.
expect_png() {
    local name=$1 file=$2 want=$3
    if [ ! -s "$file" ]; then
        fail "$name: no image $file"
        return
    fi
    local size
    size=$(png_size "$file")
    [ "$size" = "$want" ] || fail "$name: $file is '${size:-not a PNG}', expected $want"
}

case "$mode" in
errors)
    lines=$(wc -l <"$density")
    [ "$lines" -eq 27 ] || { echo "the fixture $density has $lines lines, not 27" >&2; exit 1; }
    # Bad input: each file differs from a good one in one fault.
    sed -n 1,26p "$density" >"$work/short.out"
    { cat "$density"; echo '       6.625            0'; } >"$work/long.out"
    : >"$work/empty.out"
    sed '1s/.*/nsigma density/' "$density" >"$work/header.out"
    sed '3s/0\.375/0.4/' "$density" >"$work/centre.out"
    sed '2,$s/ [^ ]*$/ nan/' "$density" >"$work/nopeaks.out"
    sed '5s/ [^ ]*$/ abc/' "$density" >"$work/word.out"
    sed '5s/ [^ ]*$/ -0.5/' "$density" >"$work/negative.out"
    sed '7s/$/ 1/' "$density" >"$work/three.out"
    tr ' ' ',' <"$density" >"$work/commas.out"
    expect_failure missing 1 "no such file" "$work/absent.out"
    expect_failure "missing default" 1 "morvel.out: no such file"
    expect_failure directory 1 "not a regular file" "$work"
    expect_failure empty 1 "the file is empty" "$work/empty.out"
    expect_failure short 1 "only 26 lines, expected 27" "$work/short.out"
    expect_failure long 1 "line 28: more than 27 lines" "$work/long.out"
    expect_failure header 1 "line 1: expected \"0 0\"" "$work/header.out"
    expect_failure centre 1 "line 3: expected the bin centre 0.375" "$work/centre.out"
    expect_failure "no peaks" 1 "line 2: the density is \"nan\"" "$work/nopeaks.out"
    expect_failure word 1 "line 5: expected a density" "$work/word.out"
    expect_failure negative 1 "line 5: expected a density" "$work/negative.out"
    expect_failure "three columns" 1 "line 7: expected a bin centre and a density" "$work/three.out"
    expect_failure commas 1 "line 1: expected \"0 0\"" "$work/commas.out"
    # Bad usage.
    expect_failure "unknown option" 2 "unknown option '--colour'" --colour "$density"
    expect_failure "two files" 2 "one input file at most" "$density" "$density"
    expect_failure "bad size" 2 "--size must be WIDTHxHEIGHT" --size 900 "$density"
    expect_failure "no value" 2 "--output needs a value" "$density" --output
    # No gnuplot: a clear message naming the package, not a shell error.
    GNUPLOT=/nonexistent/gnuplot expect_failure "no gnuplot" 3 "install it (Debian: apt-get install gnuplot-nox)" "$density"
    run_plot --help
    [ "$status" -eq 0 ] && [[ $out == Usage:* ]] || fail "--help: status $status, '$out'"
    ;;
render)
    if ! command -v "${GNUPLOT:-gnuplot}" >/dev/null 2>&1; then
        echo "gnuplot is not installed: skipped"
        exit 77
    fi
    # The default: morvel.out in the current folder, drawn into morvel.png beside it.
    mkdir -p "$work/run"
    cp "$density" "$work/run/morvel.out"
    (cd "$work/run" && "$plot" >"$work/stdout" 2>"$work/stderr")
    status=$?
    [ "$status" -eq 0 ] || fail "default: status $status: $(cat "$work/stderr")"
    [ "$(cat "$work/stdout")" = "morvel.png" ] || fail "default: printed '$(cat "$work/stdout")'"
    [ ! -s "$work/stderr" ] || fail "default: messages: $(cat "$work/stderr")"
    expect_png default "$work/run/morvel.png" 900x1000
    # Another folder, another name, CR LF line ends, a title that needs quoting, a size.
    mkdir -p "$work/other"
    sed 's/$/\r/' "$density" >"$work/other/run 1.out"
    "$plot" --title "O'Brien's \"run\" 1" --size 640x480 "$work/other/run 1.out" >"$work/stdout" 2>&1
    status=$?
    [ "$status" -eq 0 ] || fail "named: status $status: $(cat "$work/stdout")"
    expect_png named "$work/other/run 1.png" 640x480
    "$plot" -o "$work/chosen.png" "$density" >"$work/stdout" 2>&1 || fail "--output: $(cat "$work/stdout")"
    expect_png output "$work/chosen.png" 900x1000
    ;;
*)
    echo "unknown mode $mode" >&2
    exit 2
    ;;
esac

[ "$failures" -eq 0 ] || { echo "$failures failure(s)" >&2; exit 1; }
echo "all passed"
