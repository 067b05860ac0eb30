#!/bin/sh
# SPDX-License-Identifier: ISC
#
# usage: bench/startup.sh [-r ROUNDS] [-n RUNS] BUILD...
#
# What one run of firstshell costs in each BUILD (a configured build folder),
# against that build's floor: an empty program built with the same compiler,
# C library, flags and link mode. Times are also given as ratios to the first
# BUILD's firstshell; /bin/true and one-liners in grep, awk and sed that print
# the first path of /etc/shells give a scale.
#
# hyperfine times every command RUNS times in each of ROUNDS rounds, so that
# drift of the machine falls on all of them alike; a command's time is the
# median of its round medians. Peak RSS is GNU time's, the median of 11 runs
# (it moves by a few pages from run to run); instruction counts are
# callgrind's, which repeat where times do not.

set -eu
rounds=5
runs=300
while getopts r:n: opt; do
	case $opt in
	r) rounds=$OPTARG ;;
	n) runs=$OPTARG ;;
	*) exit 2 ;;
	esac
done
shift $((OPTIND - 1))
if [ $# -eq 0 ]; then
	echo "usage: bench/startup.sh [-r ROUNDS] [-n RUNS] BUILD..." >&2
	exit 2
fi

for tool in hyperfine valgrind /usr/bin/time; do
	if ! command -v "$tool" >/dev/null; then
		echo "startup.sh: $tool is missing;" \
			"on Debian: apt-get install hyperfine valgrind time" >&2
		exit 1
	fi
done

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

rss() {
	i=0
	while [ "$i" -lt 11 ]; do
		/usr/bin/time -f %M "$1" 2>&1 >/dev/null
		i=$((i + 1))
	done | sort -n | sed -n 6p
}
instructions() {
	valgrind --tool=callgrind --callgrind-out-file=/dev/null "$1" 2>&1 \
		>/dev/null | sed -n 's/.*Collected : *//p'
}

# Each build's own figures, one line each in $tmp/builds; its two programs
# take the place of its name in "$@", as hyperfine's commands.
builds=$#
for build; do
	cmake --build "$build" --target firstshell firstshell-floor >/dev/null
	prog=$build/firstshell
	floor=$build/firstshell-floor
	printf '%s\t%s\t%s\t%s\t%s\t%s\n' "$build" \
		"$(sed -n 's/^FIRSTSHELL_LINK:INTERNAL=//p' \
			"$build/CMakeCache.txt")" \
		"$(rss "$prog")" "$(rss "$floor")" \
		"$(instructions "$prog")" "$(instructions "$floor")" \
		>>"$tmp/builds"
	set -- "$@" -n "$build" "$prog" -n "$build floor" "$floor"
done
shift "$builds"

round=1
while [ "$round" -le "$rounds" ]; do
	# hyperfine warns of outliers at every round: show its words only
	# when it fails.
	hyperfine -N --style none --warmup 50 --runs "$runs" \
		--export-csv "$tmp/$round.csv" "$@" \
		-n /bin/true /bin/true \
		-n grep "grep -m1 ^/ /etc/shells" \
		-n awk "awk '/^\\//{print;exit}' /etc/shells" \
		-n sed "sed -n '/^\\//{p;q}' /etc/shells" 2>"$tmp/err" || {
		cat "$tmp/err" >&2
		exit 1
	}
	round=$((round + 1))
done

echo "$rounds rounds of $runs runs; times are medians in microseconds"
awk -F'\t' '
FILENAME ~ /builds$/ {
	build[++nb] = $1
	link[$1] = $2
	line[$1] = $0
	next
}
FNR == 1 { next }
{
	split($0, f, ",")
	c = f[1]
	if (!(c in n))
		order[++k] = c
	med[c, ++n[c]] = f[4]
}
function median(c,    a, m, i, j, t) {
	m = n[c]
	for (i = 1; i <= m; i++)
		a[i] = med[c, i]
	for (i = 2; i <= m; i++)
		for (j = i; j > 1 && a[j - 1] > a[j]; j--) {
			t = a[j]; a[j] = a[j - 1]; a[j - 1] = t
		}
	return m % 2 ? a[(m + 1) / 2] : (a[m / 2] + a[m / 2 + 1]) / 2
}
END {
	ref = median(build[1])
	printf "%-20s %-12s %10s %10s %8s %10s\n", "build", "link", \
		"firstshell", "floor", "/ floor", "/ " build[1]
	for (i = 1; i <= nb; i++) {
		b = build[i]
		t = median(b)
		fl = median(b " floor")
		printf "%-20s %-12s %10.1f %10.1f %8.3f %10.3f\n", b, link[b], \
			t * 1e6, fl * 1e6, t / fl, t / ref
	}
	for (i = 1; i <= k; i++)
		if (!(order[i] in link) && order[i] !~ / floor$/)
			printf "%-33s %10.1f %10s %8s %10.3f\n", order[i], \
				median(order[i]) * 1e6, "", "", \
				median(order[i]) / ref
	printf "\n%-20s %14s %14s %14s %14s %10s\n", "build", "RSS KiB", \
		"floor RSS KiB", "instructions", "floor", "own"
	for (i = 1; i <= nb; i++) {
		split(line[build[i]], f, "\t")
		gsub(",", "", f[5]); gsub(",", "", f[6])
		printf "%-20s %14s %14s %14s %14s %10d\n", f[1], f[3], f[4], \
			f[5], f[6], f[5] - f[6]
	}
}' "$tmp/builds" "$tmp"/*.csv
