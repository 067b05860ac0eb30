#!/bin/sh
# SPDX-License-Identifier: ISC
#
# usage: check-release.sh SOURCE FOLDER
#
# Checks the release in FOLDER, made from the source tree SOURCE, before it
# is published: its packages pass lintian and rpmlint (lint.sh); each shipped
# binary is hardened, loads no more than it should, and passes the whole
# behaviour suite as shipped, each cross-built one under its emulator; each
# standalone tarball carries its files; and distcheck: the source tarball,
# unpacked into a folder nobody may write, builds, passes every case,
# installs with DESTDIR and makes the .deb and the .rpm, byte for byte the
# released ones. As root, distcheck runs as nobody, whom read-only binds.

set -u
src=$(cd "$1" && pwd) || exit 1
rel=$(cd "$2" && pwd) || exit 1
here=$src/cmake
work=$(mktemp -d) || exit 1
trap 'chmod -R u+w "$work"; rm -rf "$work"' EXIT
fail() {
	echo "check-release: $*" >&2
	exit 1
}
say() {
	echo "check-release: $*"
}

sh "$here/lint.sh" "$rel"/*.deb "$rel"/*.rpm || fail "lint"
say "lintian and rpmlint: no finding but those with reasons"

# The processors' table: ARCH TRIPLET MUSL EMULATOR UNAME.
processors=$(sed -n 's/^	"\([a-z0-9]* .*\)"[)]*$/\1/p' \
	"$here/processors.cmake" | tr -s ' ')
cases=$(sed -n '/^set(cases$/,/)/s/^	\([a-z_]*\).*/\1/p' \
	"$src/tests/CMakeLists.txt")
cd "$work" || exit 1
dpkg-deb -x "$rel"/*.deb deb || fail "dpkg-deb cannot unpack the .deb"
mkdir rpm
rpm2cpio "$rel"/*.rpm | (cd rpm && cpio -id --quiet) ||
	fail "rpm2cpio cannot unpack the .rpm"
set -- deb/usr/bin/firstshell rpm/usr/bin/firstshell
for tarball in "$rel"/firstshell-*-linux-*.tar.gz; do
	tar -xzf "$tarball" || fail "cannot unpack $tarball"
	dir=$(basename "$tarball" .tar.gz)
	for f in bin/firstshell share/man/man1/firstshell.1.gz README.md \
		LICENSE LICENSE.musl; do
		[ -s "$dir/$f" ] || fail "$dir has no $f"
	done
	grep -q musl "$dir/LICENSE.musl" || fail "$dir: LICENSE.musl is not musl's"
	set -- "$@" "$dir/bin/firstshell"
done
for bin; do
	case $bin in
	deb/* | rpm/*) link=dynamic emulator= ;;
	*)
		link=static
		uname=${bin%/bin/firstshell}
		emulator=$(echo "$processors" |
			awk -v u="${uname##*-linux-}" '$5 == u { print $4 }')
		[ -z "$emulator" ] || emulator=$(command -v "$emulator") ||
			fail "no emulator for $bin"
		;;
	esac
	sh "$here/hardened.sh" "$bin" $link || exit 1
	sh "$src/tests/needed.sh" "$bin" $link || exit 1
	for c in $cases; do
		sh "$src/tests/firstshell.sh" "$PWD/$bin" "$c" "$emulator" ||
			fail "$bin: $c"
	done
done
say "$# shipped binaries: hardened, and every case passes as shipped"

as=
[ "$(id -u)" = 0 ] && as='runuser -u nobody --'
mkdir dist dist/src
tar -xzf "$(ls "$rel"/firstshell-*.tar.gz | grep -E '/firstshell-[0-9.]+\.tar\.gz$')" \
	-C dist/src || fail "cannot unpack the source tarball"
chmod -R a-w dist/src
chmod 755 "$work"
[ -z "$as" ] || chown nobody dist
cd dist || exit 1
$as cmake -S src/firstshell-* -B build >log 2>&1 &&
	$as cmake --build build >>log 2>&1 || {
	cat log
	fail "distcheck: the source tarball does not build"
}
(cd build && $as ctest --output-on-failure) >log 2>&1
status=$?
if [ "$status" != 0 ] || grep -q 'did not run' log; then
	cat log
	fail "distcheck: not every case ran and passed"
fi
DESTDIR=$PWD/stage $as cmake --install build --prefix /usr >/dev/null &&
	[ -x stage/usr/bin/firstshell ] || fail "distcheck: no install"
(cd build && $as cpack -G 'DEB;RPM') >log 2>&1 || {
	cat log
	fail "distcheck: cpack failed"
}
for pkg in "$rel"/*.deb "$rel"/*.rpm; do
	cmp -s "$pkg" "build/${pkg##*/}" ||
		fail "distcheck made another ${pkg##*/}"
done
say "distcheck: the source tarball builds, passes, installs, packages the same"
