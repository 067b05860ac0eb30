#!/bin/sh
# SPDX-License-Identifier: ISC
#
# usage: firstshell.sh CASE PROGRAM [EMULATOR [ARG...]]
#
# Runs one case of PROGRAM (through EMULATOR and its ARGs, none with a blank)
# in FIRSTSHELL_TEST_SHELL (sh if unset): with a list of its own over
# /etc/shells, in a mount namespace of its own, where it can; else with the
# system's list, or not at all (exit 77). BUILD, CONFIG, CMAKE, SOURCE, ELF and
# LIBC in the environment say what to check against.

set -u
unset DESTDIR
# A case not in a mount namespace of its own (the kernel names them) starts
# itself again in a new one, naming the first, which it may not read from a
# user namespace. $why: what kept the list from being chosen, in the tool's words.
why= first=
case $1 in mnt:*) first=$1 && shift ;; esac
name=$1 prog=$2
shift 2
emu=${1+$*}
if ! mine=$(readlink /proc/self/ns/mnt 2>&1) || { [ -z "$first" ] &&
	! first=$(readlink "/proc/$PPID/ns/mnt" 2>&1); }; then
	why="mount namespaces cannot be told apart: ${first:-$mine}"
elif [ "$mine" = "$first" ]; then
	# Root first: a user namespace's root may not write another's tree.
	for ns in --mount '--mount --map-root-user'; do
		if error=$(unshare $ns true 2>&1); then
			exec unshare $ns ${FIRSTSHELL_TEST_SHELL:-sh} "$0" \
				"$mine" "$name" "$prog" $emu
		fi
		why="${why:+$why; }unshare $ns: ${error:-failed}"
	done
fi
# The case's files, in the build tree: a case killed outright leaves them
# there, for its next run to remove.
work=$BUILD/Testing/$name
rm -rf "$work" && mkdir -p "$work" || exit 1
trap 'rm -rf "$work"' EXIT
trap 'exit 1' HUP INT TERM
own=no
if [ -z "$why" ]; then
	if error=$(: >"$work/shells" &&
		mount --bind "$work/shells" /etc/shells 2>&1); then
		own=yes
	else
		why="mount --bind over /etc/shells: ${error:-failed}"
	fi
fi

fail() {
	echo "FAIL: $*" >&2
	exit 1
}
skip() {
	echo "skipped: $*" >&2
	exit 77
}
# own_list WHAT: skip unless the list can be chosen, for WHAT needs it.
own_list() {
	[ "$own" = yes ] ||
		skip "$1 needs a list of its own: $why"
}

# shells FORMAT: the list the C library will read, as printf(1) writes it.
shells() {
	printf "$1" >"$work/shells"
}

# ${1+"$@"}: a bare "$@" with no arguments stops pdksh's heirs under set -u.
firstshell() {
	$emu "$prog" ${1+"$@"}
}

# run [ARG...]: the program with standard output and error caught in files.
run() {
	firstshell ${1+"$@"} >"$work/out" 2>"$work/err"
	status=$?
}

# want OUT ERR: the output and errors a run must give, as printf(1) writes
# them; check STATUS: the last run gave them, byte for byte, and STATUS.
want() {
	printf "$1" >"$work/want.out"
	printf "$2" >"$work/want.err"
}
check() {
	[ "$status" = "$1" ] || fail "exit status $status, expected $1"
	cmp -s "$work/want.out" "$work/out" ||
		fail "standard output was: $(od -c "$work/out" | head -n 5)"
	cmp -s "$work/want.err" "$work/err" ||
		fail "standard error was: $(cat "$work/err")"
}

# plain FORMAT OUT: a run with no arguments, which a case's other runs are
# held against; $plain is its status. With a list of its own, FORMAT as
# printf(1) writes it, the run must print OUT. With the system's, it must
# print the list's first line with a path (/bin/sh if it cannot be read), or
# fail as for a list with none; on one with a blank, a comment or a CR, or on
# any other line, C libraries disagree.
plain() {
	plain=0
	if [ "$own" = yes ]; then
		shells "$1"
		want "$2" ''
	else
		first=/bin/sh
		[ ! -r /etc/shells ] ||
			first=$(awk '!/^#/ && /\// { print; exit }' /etc/shells)
		case $first in
		'') plain=1 && want '' 'firstshell: no valid user shells\n' ;;
		[!/]* | *[[:space:]#]*)
			skip "the system's list begins with '$first'," \
				"which C libraries read differently"
			;;
		*) want '' '' && printf '%s\n' "$first" >"$work/want.out" ;;
		esac
	fi
	run
	check "$plain"
}
# Longer than any stdio buffer, so the line takes more than one write.
long=/$(printf '%020000d' 0 | tr 0 x)

case $name in
prints_first_entry)
	plain '/bin/first\n/usr/bin/second\n/bin/sh\n' '/bin/first\n'
	# Comments and blank lines are not shells, whether or not the C library
	# drops them itself: the first lines of Alpine's and Debian's lists, and
	# blank lines.
	for head in '# valid login shells' '# /etc/shells: valid login shells' '\n\n'; do
		plain "$head\n/bin/sh\n/bin/ash\n" '/bin/sh\n'
	done
	# The root is an absolute path like any other.
	plain '/\n/bin/sh\n' '/\n'
	# Relative names are not, whether they sort before / or after.
	plain 'nologin\n-sh\n/bin/sh\n' '/bin/sh\n'
	;;
passes_non_ascii_bytes)
	own_list "a path of any bytes"
	plain '/opt/\303\251t\303\251/\240\377\200sh\n/bin/sh\n' \
		'/opt/\303\251t\303\251/\240\377\200sh\n'
	;;
reads_lines_as_its_c_library_does)
	own_list "lines that the C libraries read each its own way"
	# A first line, and what glibc and musl make of it: glibc begins an
	# entry at the line's first / and ends it at a blank or #; musl takes
	# the line whole, and the program passes over one that is not a path.
	reads() {
		case $LIBC in
		musl) plain "$1\n/bin/next\n" "$3\n" ;;
		glibc) plain "$1\n/bin/next\n" "$2\n" ;;
		*) skip "the C library is $LIBC, neither glibc nor musl" ;;
		esac
	}
	reads '   /bin/sh' /bin/sh /bin/next
	reads '/bin/sh # login shell' /bin/sh '/bin/sh # login shell'
	reads '/bin/sh\r' /bin/sh '/bin/sh\r'
	reads 'bin/sh' /sh /bin/next
	# A / that ends the file is no entry to glibc.
	shells /
	run
	case $LIBC in
	musl) want '/\n' '' && check 0 ;;
	*) want '' 'firstshell: no valid user shells\n' && check 1 ;;
	esac
	;;
ignores_arguments)
	plain '/bin/first\n/bin/sh\n' '/bin/first\n'
	for args in 'one two three' '--help' '-' '--version -h'; do
		# Unquoted on purpose: each word is an argument of its own.
		run $args
		check "$plain"
	done
	run ''
	check "$plain"
	;;
ignores_environment)
	plain '/bin/first\n/bin/sh\n' '/bin/first\n'
	for env in -i 'SHELL=/bin/other' 'SHELL='; do
		# Unquoted: -i, or the one variable set.
		env $env $emu "$prog" >"$work/out" 2>"$work/err"
		status=$?
		check "$plain"
	done
	;;
never_reads_stdin)
	plain '/bin/first\n' '/bin/first\n'
	# A pipe that stays open and carries nothing: a read would block,
	# until the watchdog ends the program after 10 seconds.
	mkfifo "$work/fifo"
	exec 3<>"$work/fifo"
	# Not the function: $! must be the program's own process.
	$emu "$prog" <&3 >"$work/out" 2>"$work/err" &
	pid=$!
	# Killed outright when the program is done: a shell may run its
	# parent's EXIT trap in a subshell that a catchable signal ends as it
	# starts (bash does), removing the files the case still reads.
	(sleep 10 & echo $! >"$work/sleep" && wait && kill "$pid") >/dev/null 2>&1 &
	watchdog=$!
	wait "$pid"
	status=$?
	kill -KILL "$watchdog" $(cat "$work/sleep" 2>/dev/null) 2>/dev/null
	exec 3>&-
	check "$plain"
	;;
writes_whole_line_to_pipe_and_file)
	# With the system's list, its own line.
	plain "$long\n/bin/sh\n" "$long\n"
	{
		firstshell 2>"$work/err"
		echo $? >"$work/status"
	} | cat >"$work/out"
	status=$(cat "$work/status")
	check "$plain"
	;;
empty_list_is_an_error)
	own_list "an empty list"
	for list in '' '# no shells here\n\n   \n'; do
		shells "$list"
		run
		want '' 'firstshell: no valid user shells\n'
		check 1
	done
	;;
full_device_is_a_write_error | closed_stdout_is_a_write_error)
	plain '/bin/first\n' '/bin/first\n'
	[ "$plain" = 0 ] || skip "the system's list has no shell to write"
	# The C library's words for the error, as cat reports it: after its
	# last colon.
	if [ "$name" = full_device_is_a_write_error ]; then
		[ -c /dev/full ] || skip "no /dev/full here"
		error=$(echo x | LC_ALL=C cat 2>&1 >/dev/full | head -n 1)
		firstshell >/dev/full 2>"$work/err"
	else
		error=$(LC_ALL=C cat <&- 2>&1 >/dev/null | head -n 1)
		firstshell >&- 2>"$work/err"
	fi
	status=$?
	want '' "firstshell: write error: ${error##*: }\n"
	: >"$work/out"
	check 1
	# A line longer than the buffer fails as it is written, not only as
	# the buffer is flushed.
	if [ "$name" = full_device_is_a_write_error ] && [ "$own" = yes ]; then
		shells "$long\n"
		firstshell >/dev/full 2>"$work/err"
		status=$?
		check 1
	fi
	;;
dies_of_sigpipe_when_reader_is_gone)
	plain '/bin/first\n' '/bin/first\n'
	[ "$plain" = 0 ] || skip "the system's list has no shell to write"
	# A pipe whose one reader is gone: opened for reading and writing,
	# then for writing, then closed for reading. A death by SIGPIPE (13
	# wherever this runs) is status 141 (ksh93: 269).
	mkfifo "$work/fifo"
	exec 3<>"$work/fifo" 4>"$work/fifo" 3<&-
	cat "$0" >&4 2>/dev/null
	case $? in
	141 | 269) ;;
	*) skip "SIGPIPE is ignored here: cat met a gone reader, and lived" ;;
	esac
	firstshell >&4 2>"$work/err"
	status=$?
	exec 4>&-
	[ "$status" = 269 ] && status=141
	want '' ''
	: >"$work/out"
	check 141
	;;
installs_binary_and_manual | install_honours_destdir)
	# The tree holds the binary and the manual and nothing else, and the
	# installed binary behaves as the one tested.
	root=$work/root prefix=
	if [ "$name" = install_honours_destdir ]; then
		root=$work/stage prefix=/usr
		DESTDIR=$root
		export DESTDIR
	fi
	"$CMAKE" --install "$BUILD" ${CONFIG:+--config "$CONFIG"} \
		--prefix "${prefix:-$root}" >/dev/null || fail "cmake --install failed"
	(cd "$root" && find . -type f -o -type l) | sort >"$work/tree"
	printf '.%s/bin/firstshell\n.%s/share/man/man1/firstshell.1\n' \
		"$prefix" "$prefix" >"$work/want"
	cmp -s "$work/want" "$work/tree" ||
		fail "installed files: $(cat "$work/tree")"
	cmp -s "$SOURCE/doc/firstshell.1" "$root$prefix/share/man/man1/firstshell.1" ||
		fail "the installed manual differs from doc/firstshell.1"
	plain '/bin/first\n' '/bin/first\n'
	prog=$root$prefix/bin/firstshell
	run
	check "$plain"
	;;
loads_only_the_c_library_hardened)
	command -v readelf >/dev/null ||
		skip "no readelf to read the program's headers"
	headers=$(LC_ALL=C readelf -h -l -d "$prog") || fail "readelf cannot read $prog"
	needed=$(printf '%s\n' "$headers" |
		sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
	for lib in $needed; do
		case $lib in
		libc.so* | libc.musl* | ld-linux*) ;;
		*) fail "needs $lib, not only the C library" ;;
		esac
	done
	# What the hardening promised; a program with no dynamic section
	# (static, not a PIE) binds nothing, and so binds at once.
	for property in $ELF; do
		case $property:$headers in
		pie:*' DYN ('* | relro:*GNU_RELRO*) ;;
		now:*BIND_NOW* | now:*'no dynamic section'*) ;;
		*) fail "hardened, yet the headers show no $property" ;;
		esac
	done
	;;
*)
	fail "no such case: $name"
	;;
esac
