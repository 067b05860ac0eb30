#!/bin/sh
# SPDX-License-Identifier: ISC
#
# usage: firstshell.sh PROGRAM CASE
#
# Runs one behaviour of PROGRAM against the real C library reading a real
# /etc/shells: the script runs itself again in a private mount namespace and
# binds a file of its own over /etc/shells, so each case knows the list.
# Exit status 77 means no such namespace can be had here: the case is skipped.

set -u

if [ "${FIRSTSHELL_IN_NAMESPACE:-}" != 1 ]; then
	# Unprivileged first; plain --mount still works for root where user
	# namespaces are turned off.
	for ns in '--mount --map-root-user' '--mount'; do
		if unshare $ns true 2>/dev/null; then
			FIRSTSHELL_IN_NAMESPACE=1 exec unshare $ns sh "$0" "$@"
		fi
	done
	echo "skipped: no private mount namespace here (unshare)" >&2
	exit 77
fi

prog=$1
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
: >"$work/shells"
if ! mount --bind "$work/shells" /etc/shells; then
	echo "skipped: cannot bind a file over /etc/shells" >&2
	exit 77
fi

fail() {
	echo "FAIL: $*" >&2
	exit 1
}

# shells FORMAT: the list the C library will read, as printf(1) writes it.
shells() {
	printf "$1" >"$work/shells"
}

# run [ARG...]: the program with standard output and error caught in files.
run() {
	"$prog" "$@" >"$work/out" 2>"$work/err"
	status=$?
}

# expect STATUS OUT ERR: the last run's status, and its output and errors
# byte for byte, as printf(1) writes OUT and ERR.
expect() {
	[ "$status" = "$1" ] || fail "exit status $status, expected $1"
	printf "$2" >"$work/want"
	cmp -s "$work/want" "$work/out" ||
		fail "standard output was: $(od -c "$work/out" | head -5)"
	printf "$3" >"$work/want"
	cmp -s "$work/want" "$work/err" ||
		fail "standard error was: $(cat "$work/err")"
}

case $2 in
prints_first_entry)
	shells '/bin/first\n/usr/bin/second\n/bin/sh\n'
	run
	expect 0 '/bin/first\n' ''
	# Comments and blank lines are not shells, whether or not the C
	# library drops them itself: the first lines of Alpine's and
	# Debian's lists, and blank lines.
	for head in '# valid login shells' '# /etc/shells: valid login shells' \
		'\n\n'; do
		shells "$head\n/bin/sh\n/bin/ash\n"
		run
		expect 0 '/bin/sh\n' ''
	done
	;;
passes_non_ascii_bytes)
	shells '/opt/\303\251t\303\251/\240\377\200sh\n/bin/sh\n'
	run
	expect 0 '/opt/\303\251t\303\251/\240\377\200sh\n' ''
	;;
ignores_arguments)
	shells '/bin/first\n/bin/sh\n'
	for args in '' 'one two three' '--help' '-' '--version -h'; do
		# Unquoted on purpose: each word is an argument of its own.
		run $args
		expect 0 '/bin/first\n' ''
	done
	run ''
	expect 0 '/bin/first\n' ''
	;;
never_reads_stdin)
	# A pipe that stays open and carries nothing: a read would block.
	mkfifo "$work/fifo"
	exec 3<>"$work/fifo"
	shells '/bin/first\n'
	timeout 10 "$prog" <&3 >"$work/out" 2>"$work/err"
	status=$?
	exec 3>&-
	expect 0 '/bin/first\n' ''
	;;
writes_whole_line_to_pipe_and_file)
	# Longer than any stdio buffer, so the line takes more than one write.
	long=/$(printf '%020000d' 0 | tr 0 x)
	shells "$long\n/bin/sh\n"
	run
	expect 0 "$long\n" ''
	{
		"$prog" 2>"$work/err"
		echo $? >"$work/status"
	} | cat >"$work/out"
	status=$(cat "$work/status")
	expect 0 "$long\n" ''
	;;
same_line_twice_list_unchanged)
	shells '/bin/first\n/bin/second\n'
	cp /etc/shells "$work/before"
	run
	mv "$work/out" "$work/first"
	run
	expect 0 '/bin/first\n' ''
	cmp -s "$work/first" "$work/out" || fail "the two runs differ"
	cmp -s "$work/before" /etc/shells || fail "the shell list changed"
	;;
empty_list_is_an_error)
	for list in '' '# no shells here\n\n   \n'; do
		shells "$list"
		run
		expect 1 '' 'firstshell: no valid user shells\n'
	done
	;;
full_device_is_a_write_error)
	shells '/bin/first\n'
	: >"$work/out"
	"$prog" >/dev/full 2>"$work/err"
	status=$?
	expect 1 '' 'firstshell: write error: No space left on device\n'
	;;
closed_stdout_is_a_write_error)
	shells '/bin/first\n'
	: >"$work/out"
	"$prog" >&- 2>"$work/err"
	status=$?
	expect 1 '' 'firstshell: write error: Bad file descriptor\n'
	;;
*)
	fail "no such case: $2"
	;;
esac
