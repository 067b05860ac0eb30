#!/bin/sh
# SPDX-License-Identifier: ISC
#
# usage: install.sh CMAKE BUILD SOURCE CASE [EMULATOR]
#
# Installs the build in BUILD into a temporary folder, with cmake --install,
# and checks what lands there against the program and manual in SOURCE; the
# programs run through EMULATOR when they are cross-built.

set -u
cmake=$1
build=$2
source=$3
emu=${5:-}

fail() {
	echo "FAIL: $*" >&2
	exit 1
}
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT

# check ROOT PREFIX: ROOT holds the binary and the manual under PREFIX and
# nothing else, and the installed binary behaves as the built one.
check() {
	(cd "$1" && find . -type f -o -type l) | sort >"$work/tree"
	printf '.%s/bin/firstshell\n.%s/share/man/man1/firstshell.1\n' \
		"$2" "$2" >"$work/want"
	cmp -s "$work/want" "$work/tree" ||
		fail "installed files: $(cat "$work/tree")"
	cmp -s "$source/doc/firstshell.1" "$1$2/share/man/man1/firstshell.1" ||
		fail "the installed manual differs from doc/firstshell.1"
	${emu:+"$emu"} "$build/firstshell" >"$work/want" 2>&1
	want=$?
	${emu:+"$emu"} "$1$2/bin/firstshell" >"$work/got" 2>&1
	got=$?
	[ "$got" = "$want" ] && cmp -s "$work/want" "$work/got" ||
		fail "installed binary: status $got, output: $(cat "$work/got")"
}

case $4 in
installs_binary_and_manual)
	"$cmake" --install "$build" --prefix "$work/root" >/dev/null ||
		fail "cmake --install failed"
	check "$work/root" ""
	;;
install_honours_destdir)
	DESTDIR=$work/stage "$cmake" --install "$build" --prefix /usr \
		>/dev/null || fail "cmake --install failed"
	check "$work/stage" /usr
	;;
*)
	fail "no such case: $4"
	;;
esac
