#!/bin/sh
# SPDX-License-Identifier: ISC
#
# usage: install.sh CMAKE BUILD CONFIG PROGRAM SOURCE CASE [EMULATOR]
#
# Installs configuration CONFIG of the build in BUILD into a temporary
# folder, with cmake --install, and checks what lands there against PROGRAM
# and the manual in SOURCE; the programs run through EMULATOR when they are
# cross-built.

set -u
cmake=$1
build=$2
config=$3
prog=$4
source=$5
emu=${7:-}

fail() {
	echo "FAIL: $*" >&2
	exit 1
}
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT

install() {
	"$cmake" --install "$build" ${config:+--config "$config"} \
		--prefix "$1" >/dev/null || fail "cmake --install failed"
}

# check ROOT PREFIX: ROOT holds the binary and the manual under PREFIX and
# nothing else, and the installed binary behaves as the built one, which
# prints a shell or says that there is none.
check() {
	(cd "$1" && find . -type f -o -type l) | sort >"$work/tree"
	printf '.%s/bin/firstshell\n.%s/share/man/man1/firstshell.1\n' \
		"$2" "$2" >"$work/want"
	cmp -s "$work/want" "$work/tree" ||
		fail "installed files: $(cat "$work/tree")"
	cmp -s "$source/doc/firstshell.1" "$1$2/share/man/man1/firstshell.1" ||
		fail "the installed manual differs from doc/firstshell.1"
	${emu:+"$emu"} "$prog" >"$work/want" 2>&1
	want=$?
	${emu:+"$emu"} "$1$2/bin/firstshell" >"$work/got" 2>&1
	got=$?
	[ "$got" = "$want" ] && cmp -s "$work/want" "$work/got" ||
		fail "installed binary: status $got, output: $(cat "$work/got")"
	case $got:$(cat "$work/got") in
	0:/*) ;;
	'1:firstshell: no valid user shells') ;;
	*) fail "installed binary failed: status $got: $(cat "$work/got")" ;;
	esac
}

case $6 in
installs_binary_and_manual)
	install "$work/root"
	check "$work/root" ""
	;;
install_honours_destdir)
	DESTDIR=$work/stage
	export DESTDIR
	install /usr
	check "$work/stage" /usr
	;;
*)
	fail "no such case: $6"
	;;
esac
