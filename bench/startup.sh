#!/bin/sh
# usage: bench/startup.sh [BUILD [ROUNDS [RUNS]]]
#
# What one run of firstshell costs, against the floor (an empty program built
# with the same compiler, flags and link mode), /bin/true, and one-liners in
# grep, awk and sed that print the first path of /etc/shells.
#
# hyperfine times every command RUNS times in each of ROUNDS rounds, so that
# drift of the machine falls on all of them alike; a command's time is the
# median of its round medians. Peak RSS is GNU time's, the median of 11 runs
# (it moves by a few pages from run to run); instruction counts are
# callgrind's, which repeat where times do not.

set -eu
build=${1:-build}
rounds=${2:-5}
runs=${3:-300}

for tool in hyperfine valgrind /usr/bin/time; do
	if ! command -v "$tool" >/dev/null; then
		echo "startup.sh: $tool is missing;" \
			"on Debian: apt-get install hyperfine valgrind time" >&2
		exit 1
	fi
done

cmake --build "$build" --target firstshell firstshell-floor >/dev/null
cd "$build"
link=$(sed -n 's/^FIRSTSHELL_LINK:INTERNAL=//p' CMakeCache.txt)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

round=1
while [ "$round" -le "$rounds" ]; do
	# hyperfine warns of outliers at every round: show its words only
	# when it fails.
	hyperfine -N --style none --warmup 50 --runs "$runs" \
		--export-csv "$tmp/$round.csv" \
		-n firstshell ./firstshell \
		-n floor ./firstshell-floor \
		-n /bin/true /bin/true \
		-n grep "grep -m1 ^/ /etc/shells" \
		-n awk "awk '/^\\//{print;exit}' /etc/shells" \
		-n sed "sed -n '/^\\//{p;q}' /etc/shells" 2>"$tmp/err" || {
		cat "$tmp/err" >&2
		exit 1
	}
	round=$((round + 1))
done

echo "firstshell linked $link; $rounds rounds of $runs runs"
awk -F, '
FNR == 1 { next }
{
	if (!($1 in n))
		order[++k] = $1
	n[$1]++
	med[$1, n[$1]] = $4
	sum[$1] += $2
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
	base = median("firstshell")
	printf "%-12s %12s %12s %14s\n", "command", "median (us)", "mean (us)",
		"/ firstshell"
	for (i = 1; i <= k; i++) {
		c = order[i]
		m = median(c)
		printf "%-12s %12.1f %12.1f %14.2f\n", c, m * 1e6,
			sum[c] / n[c] * 1e6, m / base
	}
	printf "firstshell / floor: %.3f; firstshell / /bin/true: %.3f\n",
		base / median("floor"), base / median("/bin/true")
}' "$tmp"/*.csv

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
echo "peak RSS (KiB): firstshell $(rss ./firstshell)," \
	"floor $(rss ./firstshell-floor)"
prog=$(instructions ./firstshell)
floor=$(instructions ./firstshell-floor)
echo "instructions: firstshell $prog, floor $floor," \
	"firstshell's own $((prog - floor))"
