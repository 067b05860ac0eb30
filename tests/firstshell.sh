#!/bin/sh
# SPDX-License-Identifier: ISC
#
# usage: firstshell.sh CASE PROGRAM [EMULATOR [ARG...]]: one case of PROGRAM (through EMULATOR
# and its ARGs, none with a blank) in FIRSTSHELL_TEST_SHELL (sh if unset), with a list of its
# own over /etc/shells in a mount namespace of its own where it can, else with the system's
# list, or not at all (exit 77); against the other FIRSTSHELL_TEST_ variables.

set -u
unset DESTDIR
# A case not in a mount namespace of its own (the kernel names them) starts itself
# again in a new one, naming the one it came from, which it may not read from a
# user namespace. $why: what kept the list from being chosen, in the tool's words.
why= outer=
case $1 in mnt:*) outer=$1 && shift ;; esac
name=$1 prog=$2 && shift 2
emu=${1+$*}
if ! mine=$(readlink /proc/self/ns/mnt 2>&1) || { [ -z "$outer" ] &&
	! outer=$(readlink "/proc/$PPID/ns/mnt" 2>&1); }; then
	why="mount namespaces cannot be told apart: ${outer:-$mine}"
elif [ "$mine" = "$outer" ]; then
	# Root first: a user namespace's root may not write another's tree.
	for ns in --mount '--mount --map-root-user'; do
		error=$(unshare $ns true 2>&1) && exec unshare $ns \
			${FIRSTSHELL_TEST_SHELL:-sh} "$0" "$mine" "$name" "$prog" $emu
		why="${why:+$why; }unshare $ns: ${error:-failed}"
	done
fi
# The case's files, in the build tree: a case killed outright leaves them there,
# for its next run to remove.
work=$FIRSTSHELL_TEST_BUILD/Testing/$name
rm -rf "$work" && mkdir -p "$work" || exit 1
trap 'rm -rf "$work"' EXIT
trap 'exit 1' HUP INT TERM
own=no
[ -n "$why" ] || { error=$(: >"$work/shells" && mount --bind "$work/shells" /etc/shells 2>&1) &&
	own=yes || why="mount --bind over /etc/shells: ${error:-failed}"; }

fail() { echo "FAIL: $*" >&2 && exit 1; }
skip() { echo "skipped: $*" >&2 && exit 77; }
# own_list WHAT: skip unless the list can be chosen, for WHAT needs it.
own_list() { [ "$own" = yes ] || skip "$1 needs a list of its own: $why"; }
# shells FORMAT: the list the C library will read, as printf(1) writes it.
shells() { printf "$1" >"$work/shells"; }
# ${1+"$@"}: a bare "$@" with no arguments stops pdksh's heirs under set -u.
firstshell() { $emu "$prog" ${1+"$@"}; }

# want STATUS OUT ERR: what each run from now on must give: STATUS, and OUT on
# standard output and ERR on standard error as printf(1) writes them.
want() {
	echo "$1" >"$work/want.status"
	printf "$2" >"$work/want.out"
	printf "$3" >"$work/want.err"
}
wanted() { cat "$work/want.status"; }
# check STATUS: a run that gave STATUS, and left its output and errors in the
# files out and err, gave what is wanted, byte for byte.
check() {
	[ "$1" = "$(wanted)" ] || fail "exit status $1, expected $(wanted)"
	cmp -s "$work/want.out" "$work/out" ||
		fail "standard output was: $(od -c "$work/out" | head -n 5)"
	cmp -s "$work/want.err" "$work/err" || fail "standard error was: $(cat "$work/err")"
}
# run [ARG...]: the program, its output and errors caught, checked.
run() {
	firstshell ${1+"$@"} >"$work/out" 2>"$work/err"
	check $?
}

# plain FORMAT OUT: a run with no arguments, whose result the case's other runs must give
# too. With a list of its own, FORMAT as printf(1) writes it, it must print OUT; with the
# system's, the list's first line with a path (/bin/sh if it cannot be read), or fail as for
# a list with none; on one that the C libraries read differently, the case skips.
plain() {
	if [ "$own" = yes ]; then
		shells "$1"
		want 0 "$2" ''
	else
		line=/bin/sh
		[ ! -r /etc/shells ] || line=$(awk '!/^#/ && /\// { print; exit }' /etc/shells)
		case $line in
		'') want 1 '' 'firstshell: no valid user shells\n' ;;
		[!/]* | *[[:space:]#]*)
			skip "the system's list begins with '$line', which C libraries read" \
				"differently" ;;
		*) want 0 '' '' && printf '%s\n' "$line" >"$work/want.out" ;;
		esac
	fi
	run
}
# without_etc COMMAND...: COMMAND, with the folder $work/etc in the place of /etc.
without_etc() {
	error=$(mount --bind "$work/etc" /etc 2>&1) || fail "mount --bind over /etc: $error"
	"$@"
	umount /etc || fail "umount /etc failed"
}
# Longer than any stdio buffer, so the line takes more than one write.
long=/$(printf '%020000d' 0 | tr 0 x)

case $name in
prints_first_entry)
	plain '/bin/first\n/usr/bin/second\n/bin/sh\n' '/bin/first\n'
	# Comments and blank lines are not shells, whether or not the C library
	# drops them itself: the first lines of Alpine's and Debian's lists, and
	# blank lines.
	for top in '# valid login shells' '# /etc/shells: valid login shells' '\n\n'; do
		plain "$top\n/bin/sh\n/bin/ash\n" '/bin/sh\n'
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
	# reads LINE GLIBC MUSL: a first line, and what each makes of it
	# (doc/firstshell.1, CAVEATS); the program passes over what musl gives
	# that is not a path.
	reads() {
		case $FIRSTSHELL_TEST_LIBC in
		glibc) plain "$1\n/bin/next\n" "$2\n" ;;
		musl) plain "$1\n/bin/next\n" "$3\n" ;;
		*) skip "the C library is $FIRSTSHELL_TEST_LIBC, neither glibc nor musl" ;;
		esac
	}
	reads '   /bin/sh' /bin/sh /bin/next
	reads '/bin/sh # login shell' /bin/sh '/bin/sh # login shell'
	reads '/bin/sh\r' /bin/sh '/bin/sh\r'
	reads 'bin/sh' /sh /bin/next
	shells /
	case $FIRSTSHELL_TEST_LIBC in
	musl) want 0 '/\n' '' ;;
	*) want 1 '' 'firstshell: no valid user shells\n' ;;
	esac
	run
	;;
ignores_arguments)
	plain '/bin/first\n/bin/sh\n' '/bin/first\n'
	for args in 'one two three' '--help' '-' '--version -h'; do
		# Unquoted on purpose: each word is an argument of its own.
		run $args
	done
	run ''
	;;
ignores_environment)
	plain '/bin/first\n/bin/sh\n' '/bin/first\n'
	for setting in -i 'SHELL=/bin/other' 'SHELL='; do
		# Unquoted: -i, or the one variable set.
		env $setting $emu "$prog" >"$work/out" 2>"$work/err"
		check $?
	done
	;;
never_reads_stdin)
	plain '/bin/first\n' '/bin/first\n'
	# A pipe that stays open and carries nothing: a read would block, until
	# CTest's timeout ends the case.
	mkfifo "$work/fifo"
	exec 3<>"$work/fifo"
	firstshell <&3 >"$work/out" 2>"$work/err"
	check $?
	;;
writes_whole_line_to_pipe_and_file)
	# With the system's list, its own line.
	plain "$long\n/bin/sh\n" "$long\n"
	{
		firstshell 2>"$work/err"
		echo $? >"$work/status"
	} | cat >"$work/out"
	check "$(cat "$work/status")"
	;;
empty_list_is_an_error)
	own_list "an empty list"
	want 1 '' 'firstshell: no valid user shells\n'
	for list in '' '# no shells here\n\n   \n'; do
		shells "$list"
		run
	done
	# A directory, which both C libraries open, and read no line from.
	mkdir -p "$work/etc/shells"
	without_etc run
	;;
missing_list_is_bin_sh)
	own_list "a missing list"
	mkdir "$work/etc"
	want 0 '/bin/sh\n' ''
	without_etc run
	;;
unreadable_list_is_bin_sh)
	own_list "an unreadable list"
	# Its owner, who has no right to read it, runs the program without the
	# capabilities that let root read any file.
	blind='setpriv --bounding-set=-dac_override,-dac_read_search'
	error=$($blind sh -c '[ -r "$1" ] && [ -x "$1" ] || echo "cannot run $1"' sh \
		"$prog" 2>&1) && [ -z "$error" ] ||
		skip "an unreadable list needs a user who cannot read it: $blind: $error"
	shells '/bin/first\n'
	chmod 000 "$work/shells"
	want 0 '/bin/sh\n' ''
	$blind $emu "$prog" >"$work/out" 2>"$work/err"
	check $?
	;;
full_device_is_a_write_error | closed_stdout_is_a_write_error)
	plain '/bin/first\n' '/bin/first\n'
	[ "$(wanted)" = 0 ] || skip "the system's list has no shell to write"
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
	want 1 '' "firstshell: write error: ${error##*: }\n"
	: >"$work/out"
	check "$status"
	# A line longer than the buffer fails as it is written, not only as
	# the buffer is flushed.
	if [ "$name" = full_device_is_a_write_error ] && [ "$own" = yes ]; then
		shells "$long\n"
		firstshell >/dev/full 2>"$work/err"
		check $?
	fi
	;;
dies_of_sigpipe_when_reader_is_gone)
	plain '/bin/first\n' '/bin/first\n'
	[ "$(wanted)" = 0 ] || skip "the system's list has no shell to write"
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
	want 141 '' ''
	: >"$work/out"
	check "$status"
	;;
installs_binary_and_manual | install_honours_prefix)
	# Into a folder of the build tree (DESTDIR), with the prefix configured
	# or another, where an absolute directory stays as it is: the binary and
	# the manual and nothing else; the installed binary works as the other.
	prefix=$FIRSTSHELL_TEST_PREFIX
	[ "$name" = installs_binary_and_manual ] || prefix=/firstshell/prefix
	DESTDIR=$work/stage "$FIRSTSHELL_TEST_CMAKE" --install "$FIRSTSHELL_TEST_BUILD" \
		${FIRSTSHELL_TEST_CONFIG:+--config "$FIRSTSHELL_TEST_CONFIG"} \
		--prefix "$prefix" >/dev/null || fail "cmake --install failed"
	under() { case $1 in /*) echo "$1" ;; *) echo "${prefix%/}/$1" ;; esac; }
	bin=$(under "$FIRSTSHELL_TEST_BINDIR")/firstshell
	man=$(under "$FIRSTSHELL_TEST_MANDIR")/man1/firstshell.1
	(cd "$work/stage" && find . -type f -o -type l) | sort >"$work/tree"
	printf '.%s\n' "$bin" "$man" | sort >"$work/want"
	cmp -s "$work/want" "$work/tree" ||
		fail "installed files: $(cat "$work/tree"); expected: $(cat "$work/want")"
	cmp -s "$FIRSTSHELL_TEST_BUILD/firstshell.1" "$work/stage$man" ||
		fail "the installed manual is not the one configured"
	prog=$work/stage$bin
	plain '/bin/first\n' '/bin/first\n'
	;;
loads_only_the_c_library_hardened)
	command -v readelf >/dev/null || skip "no readelf to read the program's headers"
	headers=$(LC_ALL=C readelf -h -l -d "$prog") || fail "readelf cannot read $prog"
	link=static
	case $headers in *INTERP*) link=dynamic ;; *' DYN ('*) link=static-pie ;; esac
	[ "$link" = "$FIRSTSHELL_TEST_LINK" ] || fail "linked $link, not $FIRSTSHELL_TEST_LINK"
	for lib in $(printf '%s\n' "$headers" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); do
		case $lib in
		libc.so* | libc.musl* | ld-linux*) ;;
		*) fail "needs $lib, not only the C library" ;;
		esac
	done
	# What the hardening promised; a program with no dynamic section
	# (static, not a PIE) binds nothing, and so binds at once.
	lacking=
	for property in $FIRSTSHELL_TEST_ELF; do
		case $property:$headers in
		pie:*' DYN ('* | relro:*GNU_RELRO*) ;;
		now:*BIND_NOW* | now:*'no dynamic section'*) ;;
		*) lacking="$lacking $property" ;;
		esac
	done
	[ -z "$lacking" ] || fail "hardened, yet the headers show no$lacking"
	;;
*) fail "no such case: $name" ;;
esac
