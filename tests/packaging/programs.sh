#!/usr/bin/env bash
# Checks of the installed programs' command lines against their manual pages, and of the
# exit statuses scripts rely on.
#   programs.sh contract NAME PROGRAM MANPAGE_SOURCE VERSION
#   programs.sh table-exits RD780_TABLE FIXTURE_TABLE
#   programs.sh frames-exits RD780_FRAMES
set -uo pipefail

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# run PROGRAM ARGS...: status in $status, output in $work/out and $work/err; no input.
run() {
    "$@" </dev/null >"$work/out" 2>"$work/err"
    status=$?
}

# Every program: --help is a success on standard output, --version prints the name and the
# package's version, a wrong option is a usage error (status 2) on standard error, and every
# option the help names is in the manual page.
contract() {
    local name=$1 prog=$2 page=$3 version=$4
    [ -f "$page" ] || {
        fail "$name has no manual page source $page"
        return
    }
    run "$prog" --help
    [ "$status" -eq 0 ] || fail "$name --help exits $status"
    grep -qi '^usage:' "$work/out" || fail "$name --help prints no usage line on standard output"
    [ -s "$work/err" ] && fail "$name --help writes to standard error: $(cat "$work/err")"
    local options
    options=$(grep -oE -- '--[a-z][a-z-]*' "$work/out" | sort -u)
    [ -n "$options" ] || fail "$name --help names no options"
    # Described means a term of the OPTIONS list, not a mention in the synopsis.
    sed -n '/^# OPTIONS$/,/^# /p' "$page" >"$work/options"
    for o in $options; do
        grep -qE -- "^(\*-[[:alnum:]]\*, )?\*$o\*( |\$)" "$work/options" ||
            fail "$name: option $o is not described under OPTIONS in $(basename "$page")"
    done

    run "$prog" --version
    [ "$status" -eq 0 ] || fail "$name --version exits $status"
    [ "$(cat "$work/out")" = "$name $version" ] ||
        fail "$name --version prints '$(cat "$work/out")', not '$name $version'"
    [ -s "$work/err" ] && fail "$name --version writes to standard error: $(cat "$work/err")"

    run "$prog" --no-such-option
    [ "$status" -eq 2 ] || fail "$name --no-such-option exits $status, not 2"
    [ -s "$work/out" ] && fail "$name --no-such-option writes to standard output"
    grep -qi '^usage:' "$work/err" || fail "$name --no-such-option prints no usage on standard error"
    grep -q -- "^$name: .*--no-such-option" "$work/err" ||
        fail "$name --no-such-option does not name the bad argument: $(cat "$work/err")"

    for section in NAME SYNOPSIS DESCRIPTION OPTIONS 'EXIT STATUS' EXAMPLES; do
        grep -qx "# $section" "$page" || fail "$(basename "$page") has no $section section"
    done
    grep -q "^$name(1)\$" "$page" || fail "$(basename "$page") does not start with $name(1)"
}

table_exits() {
    local prog=$1 fixture=$2
    run "$prog"
    [ "$status" -eq 2 ] || fail "rd780-table without a file exits $status, not 2"
    run "$prog" "$fixture" "$fixture"
    [ "$status" -eq 2 ] || fail "rd780-table with two files exits $status, not 2"
    run "$prog" "$work/missing.db"
    [ "$status" -eq 1 ] || fail "rd780-table on a missing file exits $status, not 1"
    grep -q '^rd780-table: ' "$work/err" || fail "rd780-table gives no reason for a missing file"

    # A file whose name starts with '-' is reached after --, and prints as under its own name.
    cp "$fixture" "$work/-t.db"
    run "$prog" "$fixture"
    cp "$work/out" "$work/expected"
    [ "$status" -eq 0 ] && [ "$(wc -l <"$work/expected")" -gt 1 ] ||
        fail "rd780-table prints no rows of the fixture (status $status)"
    (cd "$work" && "$prog" -- -t.db </dev/null >"$work/out" 2>"$work/err")
    status=$?
    [ "$status" -eq 0 ] || fail "rd780-table -- -t.db exits $status: $(cat "$work/err")"
    cmp -s "$work/out" "$work/expected" || fail "rd780-table -- -t.db prints another table"
    (cd "$work" && "$prog" -t.db </dev/null >/dev/null 2>&1)
    status=$?
    [ "$status" -eq 2 ] || fail "rd780-table -t.db exits $status: an unknown option, not a file"

    # Output that cannot be written is a failure, not a printed table.
    if [ -w /dev/full ]; then
        "$prog" "$fixture" >/dev/full 2>"$work/err"
        status=$?
        [ "$status" -eq 1 ] || fail "rd780-table writing to a full disk exits $status, not 1"
    fi
}

frames_exits() {
    local prog=$1
    local frame=5A0003050559800101010006001000000B000400002030302E363620562000322E3031336B487A002E
    printf '%s\nnot a frame\n' "$frame" | "$prog" >"$work/out" 2>"$work/err"
    status=$?
    [ "$status" -eq 0 ] || fail "rd780-frames exits $status on a bad frame line"
    [ "$(wc -l <"$work/out")" -eq 2 ] || fail "rd780-frames does not answer every line"
    grep -q $'^error\t' "$work/out" || fail "rd780-frames prints no error line for a bad frame"

    # A NUL byte in the frame's text is kept in the error, escaped like any other byte.
    printf '%s\n' "${frame/2030302E3636/2000302E3636}" | "$prog" >"$work/out" 2>"$work/err"
    [ "$(cat "$work/out")" = "$(printf 'error\t%s' "'\\x00066' is not a valid integer value")" ] ||
        fail "rd780-frames cuts an error text at a NUL byte: $(cat "$work/out")"

    run "$prog" extra argument
    [ "$status" -eq 2 ] || fail "rd780-frames with arguments exits $status, not 2"

    if [ -w /dev/full ]; then
        # More than a buffer's worth, so the failed write happens before the end as well.
        for _ in $(seq 2000); do echo "$frame"; done >"$work/many"
        "$prog" <"$work/many" >/dev/full 2>"$work/err"
        status=$?
        [ "$status" -eq 1 ] || fail "rd780-frames writing to a full disk exits $status, not 1"
        grep -q 'cannot write' "$work/err" || fail "rd780-frames gives no reason for the lost output"
        printf '%s\n' "$frame" | "$prog" >/dev/full 2>/dev/null
        status=$?
        [ "$status" -eq 1 ] || fail "rd780-frames loses one short line to a full disk with status $status"
    fi
}

case "${1:-}" in
contract) contract "$2" "$3" "$4" "$5" ;;
table-exits) table_exits "$2" "$3" ;;
frames-exits) frames_exits "$2" ;;
*)
    echo "usage: programs.sh contract|table-exits|frames-exits ..." >&2
    exit 2
    ;;
esac
[ "$failures" -eq 0 ]
