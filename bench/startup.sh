#!/bin/sh
# SPDX-License-Identifier: ISC
#
# usage: [ROUNDS=5] [RUNS=100] sh bench/startup.sh BUILD...   (see doc/startup.md)

set -eu
rounds=${ROUNDS:-5} runs=${RUNS:-100}
[ $# -gt 0 ] || { echo "usage: sh bench/startup.sh BUILD..." >&2 && exit 2; }
for tool in hyperfine valgrind /usr/bin/time; do command -v "$tool" >/dev/null || { echo \
	"firstshell bench: no $tool (Debian: hyperfine valgrind time)" >&2 && exit 1; }; done
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
instructions() {
	valgrind --tool=callgrind --callgrind-out-file=/dev/null "$1" 2>&1 >/dev/null |
		sed -n 's/.*Collected : *//p' | tr -d ,
}
faults() {
	for i in 1 2 3 4 5; do /usr/bin/time -f %R "$1" 2>&1 >/dev/null; done |
		sort -n | head -n 1
}

# Each build's figures, a line each in $tmp/builds; its two programs take
# the place of its name in "$@", as hyperfine's commands.
builds=$#
for build; do
	cmake --build "$build" --target firstshell firstshell-floor >/dev/null
	kind=$(. "$build/settings.sh" && echo "$libc $link")
	prog=$build/firstshell floor=$build/firstshell-floor name=$(echo "$build" | tr ' ' _)
	echo "$name" "$kind" "$(instructions "$prog")" "$(instructions "$floor")" \
		"$(faults "$prog")" "$(faults "$floor")" >>"$tmp/builds"
	set -- "$@" -n "$name" "'$prog'" -n "$name floor" "'$floor'"
done
shift "$builds"

# Rounds, as doc/startup.md says; hyperfine's words only if it fails.
round=0
while [ $((round += 1)) -le "$rounds" ]; do
	hyperfine -N --style none --warmup 20 --runs "$runs" \
		--export-csv "$tmp/$round.csv" "$@" >"$tmp/log" 2>&1 ||
		{ cat "$tmp/log" >&2 && exit 1; }
done
# Each command's medians, one a round, sorted: its time is the middle one (the lower of the
# two middle ones for an even ROUNDS), in microseconds.
awk -F, 'FNR == 1 { for (i = 1; i <= NF; i++) if ($i == "median") m = i; next }
	{ print $1 "," $m }' "$tmp"/[0-9]*.csv | sort -t, -k1,1 -k2,2g | awk '
function t(c) { return 1e6 * s[c, int((n[c] + 1) / 2)] }
BEGIN {
	printf "%-14s %-6s %-10s %8s %8s %7s %7s %8s %8s %7s %7s\n", "build", "libc", \
		"link", "program", "floor", "/floor", "/first", "instr", "i.floor", \
		"faults", "f.floor"
}
NR == FNR { s[$1, ++n[$1]] = $2; next }
FNR == 1 { first = t($1) }
{
	p = t($1); q = t($1 " floor")
	printf "%-14s %-6s %-10s %8.1f %8.1f %7.3f %7.3f %8s %8s %7s %7s\n", \
		$1, $2, $3, p, q, p / q, p / first, $4, $5, $6, $7
}' FS=, - FS=' ' "$tmp/builds"
