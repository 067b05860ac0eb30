#!/bin/sh
# SPDX-License-Identifier: ISC
#
# usage: sh dist/release.sh [--depends | --rebuild DIR]            (see doc/release.md)
# This copy checks its inputs and puts the source in a scratch folder, whose copy of this
# script runs --sealed, in a process group of its own; then this one signs and moves.

set -u
umask 022
LC_ALL=C TZ=UTC0 PATH=/usr/sbin:/usr/bin:/sbin:/bin CDPATH=
export LC_ALL TZ PATH CDPATH
say() { echo "firstshell release: $*"; }
fail() { # WHAT [LOG]
	[ -z "${2:-}" ] || tail -n 60 "$2" >&2
	echo "firstshell release: $1" >&2
	exit 1
}
table() { cmake -P "$1/cmake/processors.cmake" || fail "$1: cmake/processors.cmake fails"; }
# The packages that make the bytes, BUILDINFO's roots, with each processor's cross
# compiler and musl (this machine's are g++ and musl-dev); and those that check.
roots() {
	echo g++ cmake make binutils dpkg-dev rpm git gzip tar file musl-dev
	echo "$table" | awk -v native="$native" '$1 != native { print "g++-" $2, "musl-dev:" $1 }'
}
checkers="lintian rpmlint qemu-user cpio strace"

# The sealed part, run from the source it releases; it leaves its files in WORK/out.
sealed() { # WORK COMMIT MAINTAINER VERSION [GIVEN]
	work=$1 commit=$2 maint=$3 version=$4 given=${5:-} out=$1/out trace=1
	table=$(table "$work/head") && native=$(dpkg --print-architecture) || exit 1
	mkdir "$out" "$work/trace" "$work/unpacked" || exit 1
	# Every tool, before anything is built: the packages, and what each row runs.
	{
		dpkg-query -W -f='${db:Status-Abbrev} ${binary:Package}\n' $(roots) $checkers 2>&1 |
			grep -v '^.i'
		echo "$table" | awk -v native="$native" '$1 != native { print $2 "-gcc\n" $4 }' |
			while read -r tool; do command -v "$tool" >/dev/null || echo "$tool"; done
	} >"$work/missing"
	[ ! -s "$work/missing" ] || fail "missing, of --depends' list:" "$work/missing"
	# One address, Name <address> in UTF-8 with no control character, as lintian reads it
	# (a name with quotes in it quoted, as "Jane \"JD\" Doe" <jane@example.org>).
	perl -MEmail::Address::XS=parse_email_addresses -e '$m = shift;
		@a = parse_email_addresses($m); exit !(utf8::decode(my $u = $m) &&
		$m !~ /[\0-\x1f\x7f]/ && @a == 1 && $a[0]->host =~ /\./ && ($m eq $a[0]->format ||
		$m eq $a[0]->phrase . " <" . $a[0]->address . ">"))' "$maint" ||
		fail "the maintainer (FIRSTSHELL_MAINTAINER, or DEBEMAIL and DEBFULLNAME) is not\
 one address, Name <address>, in UTF-8, without control characters: '$maint'"
	closure >"$work/packages" || fail "dpkg-genbuildinfo fails" "$work/genbuildinfo.log"
	if [ -n "$given" ]; then
		record <"$given/BUILDINFO" | diff - "$work/packages" >"$work/differ" ||
			say "packages here (>) are not BUILDINFO's (<), rebuilt all the same:" \
				"$(cat "$work/differ")"
		cp "$given/firstshell-$version.tar.gz" "$out/" || exit 1
	else
		configure cmake -S "$work/head" -B "$work/probe" >"$work/probe.log" 2>&1 ||
			fail "the last commit does not configure" "$work/probe.log"
		version=$(. "$work/probe/settings.sh" && echo "$version")
		# The project's own archive settings, whatever git's defaults.
		run archive git --git-dir="$work/git" -c tar.umask=0022 -c core.autocrlf=false \
			archive "--prefix=firstshell-$version/" "$commit" >"$work/source.tar" &&
			gzip -9n <"$work/source.tar" >"$out/firstshell-$version.tar.gz" || exit 1
	fi
	settle "$out/firstshell-$version.tar.gz" || fail "cannot unpack the source tarball"
	src=$work/unpacked/firstshell-$version.tar.gz/firstshell-$version
	# The .deb and .rpm from the glibc build; a standalone tarball per processor.
	build glibc
	echo "$table" | while read -r arch _ _ emulator uname; do
		name=musl cross='' trace=1
		[ "$arch" = "$native" ] || name=musl-$arch cross=-DFIRSTSHELL_ARCH=$arch trace=''
		build "$name" "-DCMAKE_TOOLCHAIN_FILE=$src/cmake/musl.cmake" \
			-DFIRSTSHELL_STATIC=ON $cross
		t=firstshell-$version-linux-$uname
		d=$work/unpacked/$t.tar.gz/$t
		(cd "$d" && ls bin/firstshell share/man/man1/firstshell.1.gz README.md LICENSE) \
			>/dev/null && grep -q musl "$d/LICENSE.musl" || fail "$t.tar.gz lacks files"
		# The README sends ARM machines that say armv6l to armel's, armv8l to armhf's.
		cpu=$(case $arch in armel) echo arm1176 ;; armhf) echo max ;; esac)
		[ -z "$cpu" ] || (cd "$work/$name" &&
			cmake "-DCMAKE_CROSSCOMPILING_EMULATOR=$emulator;-cpu;$cpu" . &&
			ctest --output-on-failure) >>"$work/$name.log" 2>&1 ||
			fail "$t.tar.gz: the suite fails under qemu -cpu $cpu" "$work/$name.log"
	done || exit 1
	check_trace
	# Every package and tarball: linted, its folders 0755, files 0644 or 0755, and
	# nothing in it (control data and headers too) left unfilled.
	log=$work/lint.log
	sh "$work/head/dist/lint.sh" "$out"/*.deb "$out"/*.rpm >"$log" 2>&1 ||
		fail "lintian or rpmlint found what dist/lint.sh keeps no reason for" "$log"
	! grep -vE '^(drwxr-xr-x|-rw-r--r--|-rwxr-xr-x|lrwxrwxrwx) ' "$work"/unpacked/*.list \
		>"$work/modes" || fail "entries of other modes than 0755 or 0644" "$work/modes"
	find "$work/unpacked" -type f -name '*.gz' -exec gzip -d {} +
	! grep -rilE '@invali[d]|placeholde[r]|<[a-z_][a-z0-9_-]*@localhos[t]>' "$work/unpacked" \
		>"$work/unfilled" || fail "files with a stand-in address or text" "$work/unfilled"
	say "lint, modes, no stand-in text: every file of every package passes"
	distcheck
	{
		printf '%s\n' "Format: 1.0" "Source: firstshell" "Version: $version" \
			"Commit: $commit" "Source-Date-Epoch: $SOURCE_DATE_EPOCH" \
			"Maintainer: $maint" \
			"Build-Origin: $(. /etc/os-release && echo "$PRETTY_NAME")" \
			"Build-Architecture: $native" "Installed-Build-Depends:" &&
			sed 's/^/ /; $!s/$/,/' "$work/packages"
	} >"$out/BUILDINFO" && (cd "$out" && sha256sum -- * >SHA256SUMS) || exit 1
	[ -z "$given" ] || compare
}
# Installed-Build-Depends, as dpkg-genbuildinfo lists them for a package that build-depends
# on the roots and, where installed, on binutils-multiarch (its strip replaces binutils'),
# libc6-i386 (dpkg-shlibdeps opens its libc) and liblocale-gettext-perl (for dpkg).
closure() {
	g=$work/genbuildinfo
	mkdir -p "$g/debian" && : >"$g/firstshell_0_$native.deb" &&
		echo "firstshell_0_$native.deb - -" >"$g/debian/files" &&
		printf 'Source: firstshell\nBuild-Depends: %s\n\nPackage: firstshell\n%s\n' \
			"$(echo $(roots) binutils-multiarch libc6-i386 liblocale-gettext-perl |
				sed 's/ /, /g')" 'Architecture: any' >"$g/debian/control" &&
		printf 'firstshell (0) unstable; urgency=low\n\n  * -\n\n -- - <->  %s\n' \
			'Thu, 01 Jan 1970 00:00:00 +0000' >"$g/debian/changelog" || return
	(cd "$g" && dpkg-genbuildinfo --build=any -u. -O 2>"$g.log") | record | grep .
}
record() { sed -n '/^Installed-Build-Depends:/,/^[^ ]/s/^ \(.*[^,]\),\{0,1\}$/\1/p'; }
# run STEP COMMAND...: COMMAND; with $trace set, what it opens or runs goes to trace/STEP.*
run() {
	step=$work/trace/$1
	shift
	[ -z "$trace" ] || set -- strace -f -ff -qq -o "$step" \
		-e trace=execve,execveat,open,openat,openat2 "$@"
	"$@"
}
# BUILDINFO is whole if each file the traced steps opened or ran, and where it leads, is
# owned by a package it names: settings, kernel files, locales, time zones, this work and
# files no package owns aside. Some are owned by their paths from before /usr merged.
check_trace() {
	sed -n 's/^[^"]*"\(\/[^"]*\)".*) = [0-9]*$/\1/p' "$work"/trace/* | grep -vF "$work/" |
		grep -vE '^/(etc|proc|sys|dev|tmp)/|^/usr/(lib|share)/(locale|zoneinfo)/' \
		>"$work/opened"
	tr '\n' '\0' <"$work/opened" | xargs -0 realpath -qe -- | cat - "$work/opened" |
		sed -n 'p; s#^/usr\(/s\{0,1\}bin/\|/lib[^/]*/\)#\1#p' | sort -u >"$work/paths"
	(set -f && dpkg -S $(cat "$work/paths")) 2>/dev/null | sed "/^diversion /d; s/: \/.*//;
		s/:$native\(,\|\$\)/\1/g; s/, */\n/g" | sort -u >"$work/owners"
	[ -s "$work/owners" ] || fail "the trace names no package: nothing was traced"
	sed 's/ .*//' "$work/packages" | sort | comm -23 "$work/owners" - >"$work/lacking"
	[ ! -s "$work/lacking" ] || fail "BUILDINFO lacks packages the builds used" "$work/lacking"
	say "trace: each of the $(wc -l <"$work/owners") packages the builds used is in BUILDINFO"
}
# settle PACKAGE: a .deb or standalone tarball packed again from what it holds alone, as
# cpack takes entries' order and folders' sizes from the file system. What it holds goes to
# $work/unpacked/NAME (files, control data or header), its entries (ls -l) to that .list.
settle() {
	d=$work/unpacked/${1##*/}
	rm -rf "$d" && mkdir -p "$d" || return
	case $1 in
	*.deb)
		dpkg-deb -R "$1" "$d" &&
			size=$(find "$d" -path "$d/DEBIAN" -prune -o -exec ls -ld {} + | awk \
				'{ n += /^-/ ? int(($5 + 1023) / 1024) : 1 } END { print n }') &&
			sed -i "s/^Installed-Size: .*/Installed-Size: $size/" "$d/DEBIAN/control" &&
			dpkg-deb --root-owner-group -Zgzip -z9 --build "$d" "$1" >/dev/null &&
			dpkg-deb -c "$1" ;;
	*-linux-*.tar.gz)
		tar -xzf "$1" -C "$d" && (cd "$d" && tar --sort=name --owner=0 --group=0 \
			--numeric-owner "--mtime=@$SOURCE_DATE_EPOCH" --format=gnu -cf - -- *) |
			gzip -9n >"$1" && tar -tvzf "$1" ;;
	*.tar.gz) tar -xvvzf "$1" -C "$d" ;;
	*.rpm) rpm -qpi --changelog "$1" >"$d/.header" && rpm -qplv "$1" &&
		rpm2cpio "$1" | (cd "$d" && cpio -id --quiet) ;;
	esac >"$d.list"
}
configure() {
	"$@" -DCMAKE_BUILD_TYPE=Release -DFIRSTSHELL_TEST_ALL=ON "-DFIRSTSHELL_MAINTAINER=$maint"
}
# build NAME CMAKE-ARG...: configure, build, the whole suite, cpack (a build against musl
# must link a static PIE), settle, and the whole suite again on each binary packed.
build() {
	name=$1 b=$work/$1 log=$work/$1.log
	shift
	say "$name: configure, build, suite, cpack ($(date +%T))"
	{ configure run "$name.configure" cmake -S "$src" -B "$b" "$@" &&
		run "$name.build" cmake --build "$b" && (cd "$b" && ctest --output-on-failure) &&
		(cd "$b" && run "$name.cpack" cpack); } >"$log" 2>&1 </dev/null ||
		fail "$name: the configure step, the build, its suite or cpack failed" "$log"
	(. "$b/settings.sh" && [ "$libc" != musl ] || [ "$link" = static-pie ]) ||
		fail "$name: against musl, yet not a static PIE" "$b/settings.sh"
	for p in "$b"/firstshell[-_]*.*; do
		settle "$p" || fail "cannot pack $p again"
		bin=$(find "$work/unpacked/${p##*/}" -path '*/bin/firstshell' -type f)
		{ [ -n "$bin" ] && cmake "-DFIRSTSHELL_TEST_PROGRAM=$bin" "$b" &&
			(cd "$b" && ctest --output-on-failure); } >>"$log" 2>&1 </dev/null ||
			fail "${p##*/}: the suite fails on the binary it ships" "$log"
		cp "$p" "$out/" || exit 1
	done
}
# distcheck: the source tarball, unpacked where nobody may write, builds as nobody
# (or as the caller, if not root), passes, installs, and makes the same .deb and .rpm.
distcheck() {
	c=$work/distcheck as='' log=$work/distcheck.log
	mkdir "$c" && tar -xzf "$out/firstshell-$version.tar.gz" -C "$c" &&
		chmod -R a-w "$c/firstshell-$version" || exit 1
	[ "$(id -u)" != 0 ] || { as='runuser -u nobody --' && chown nobody "$c"; }
	{ configure $as cmake -S "$c/firstshell-$version" -B "$c/build" &&
		$as cmake --build "$c/build" && (cd "$c/build" && $as ctest --output-on-failure) &&
		DESTDIR=$c/stage $as cmake --install "$c/build" --prefix /usr &&
		[ -x "$c/stage/usr/bin/firstshell" ] &&
		(cd "$c/build" && $as cpack -G 'DEB;RPM'); } >"$log" 2>&1 </dev/null ||
		fail "distcheck: the source tarball fails" "$log"
	for p in "$out"/*.deb "$out"/*.rpm; do
		settle "$c/build/${p##*/}" && cmp "$p" "$c/build/${p##*/}" ||
			fail "distcheck made another ${p##*/}"
	done
}
# compare: each file GIVEN's SHA256SUMS lists, and each made, the same here, byte for byte;
# BUILDINFO aside where this system's packages are not those it records.
compare() {
	aside=SHA256SUMS note=''
	[ ! -s "$work/differ" ] || aside="$aside|BUILDINFO" note=" (BUILDINFO aside)"
	{ (cd "$out" && ls) && cat "$work/listed"; } |
		sort -u | grep -vxE "$aside" | while read -r f; do
		cmp -s "$given/$f" "$out/$f" || echo "$f"
	done >"$work/mismatch"
	[ -s "$work/mismatch" ] || { say "rebuilt: each file as $given's, byte for byte$note" &&
		return; }
	while read -r f; do diffoscope "$given/$f" "$out/$f"; done <"$work/mismatch"
	[ ! -s "$work/differ" ] || say "suspects: the packages that differ from BUILDINFO's"
	fail "rebuilt: these differ from $given's (diffoscope shows how):" "$work/mismatch"
}

case ${1:-} in
--sealed) shift && sealed "$@"; exit ;;
--depends) table=$(table "$(dirname "$0")/..") && native=$(dpkg --print-architecture) &&
	exec printf '%s\n' $(roots) $checkers diffoscope-minimal; exit 1 ;;
--rebuild) [ $# = 2 ] && given=$(cd "$2" && pwd) && [ -f "$given/SHA256SUMS" ] ||
	fail "--rebuild DIR: no SHA256SUMS in ${2:-DIR}" ;;
'') given='' ;;
*) fail "usage: sh dist/release.sh [--depends | --rebuild DIR]" ;;
esac
top=$(cd "$(dirname "$0")/.." && pwd) || exit 1
key=${FIRSTSHELL_SIGNING_KEY:-} work='' partial='' pid='' stopped=''
stop() { stopped=1 && [ -n "$pid" ] && kill -s TERM -- "-$pid" 2>/dev/null || exit 1; }
trap '[ -z "$work" ] || { chmod -R u+w "$work"; rm -rf "$work" ${partial:+"$partial"}; } \
	2>/dev/null' EXIT
trap stop INT TERM HUP
case ${TMPDIR:-/tmp} in
*[[:space:]]*) fail "TMPDIR has a blank, which rpmbuild cannot build under: '$TMPDIR'" ;;
esac
work=$(mktemp -d "${TMPDIR:-/tmp}/firstshell-release.XXXXXX") && chmod 755 "$work" &&
	mkdir "$work/home" "$work/head" && mkdir -m 1777 "$work/tmp" ||
	fail "cannot make a folder in TMPDIR"
# git as the release runs it: no settings but the project's.
sealed_git() { env -i PATH="$PATH" HOME="$work/home" GIT_CONFIG_NOSYSTEM=1 git "$@"; }

if [ -n "$given" ]; then
	# What DIR holds, checked before anything of it is run or built: each signature, given
	# the key; each file SHA256SUMS lists; no other file.
	if [ -n "$key" ]; then
		gpg --batch --export "$key" >"$work/key.gpg" && [ -s "$work/key.gpg" ] &&
			[ -f "$given/SHA256SUMS.asc" ] || fail "no SHA256SUMS.asc, or no key '$key'"
		for a in "$given"/*.asc; do gpgv --keyring "$work/key.gpg" "$a" "${a%.asc}" ||
			fail "${a##*/}: not a good signature by FIRSTSHELL_SIGNING_KEY '$key'"; done
	elif [ -f "$given/SHA256SUMS.asc" ]; then
		say "SHA256SUMS.asc not checked: FIRSTSHELL_SIGNING_KEY names no key"
	fi
	(cd "$given" && sha256sum --quiet --strict -c SHA256SUMS) >&2 ||
		fail "$given: a file SHA256SUMS lists is missing or changed (named above)"
	sed -n 's/^[0-9a-f]\{64\}  //p' "$given/SHA256SUMS" >"$work/listed"
	! (cd "$given" && ls) | sed 's/\.asc$//' | grep -vxF -e SHA256SUMS -f "$work/listed" ||
		fail "$given holds files SHA256SUMS does not list (named above)"
	field() { sed -n "s/^$1: //p" "$given/BUILDINFO"; }
	version=$(field Version) commit=$(field Commit) maint=$(field Maintainer)
	SOURCE_DATE_EPOCH=$(field Source-Date-Epoch)
	tar -xzf "$given/firstshell-$version.tar.gz" --strip-components=1 -C "$work/head" ||
		fail "$given: no firstshell-$version.tar.gz to unpack"
else
	version='' maint=${FIRSTSHELL_MAINTAINER:-}
	# As Debian's tools take it: DEBEMAIL may hold the name as well.
	case $maint:${DEBEMAIL:-} in
	:*'<'*) maint=$DEBEMAIL ;;
	:?*) [ -z "${DEBFULLNAME:-}" ] || maint="$DEBFULLNAME <$DEBEMAIL>" ;;
	esac
	[ -n "$maint" ] || fail 'nothing built: set FIRSTSHELL_MAINTAINER="Name <address>"'\
' (or DEBEMAIL, or DEBFULLNAME and DEBEMAIL)'
	commit=$(git -C "$top" rev-parse --verify HEAD) || fail "not a git checkout: $top"
	[ -z "$(git -C "$top" status --porcelain)" ] || say "uncommitted changes are left out"
	{ [ ! -e "$top/release" ] || grep -qx "Commit: $commit" "$top/release/BUILDINFO"; } ||
		fail "release/ holds another commit's release: move it away first"
	# It trusts the checkout that the caller's git has just read, whoever owns it.
	sealed_git config --global safe.directory '*' &&
		sealed_git clone -q --bare --shared "$top" "$work/git" &&
		sealed_git --git-dir="$work/git" archive "$commit" | tar -xf - -C "$work/head" ||
		fail "git cannot export commit $commit"
	: "${SOURCE_DATE_EPOCH:=$(sealed_git --git-dir="$work/git" log -1 --format=%ct "$commit")}"
	if [ -n "$key" ]; then
		echo firstshell >"$work/signed" && gpg --batch --local-user "$key" --detach-sign \
			"$work/signed" >"$work/gpg.log" 2>&1 ||
			fail "FIRSTSHELL_SIGNING_KEY: gpg cannot sign with '$key'" "$work/gpg.log"
	else
		say "unsigned: FIRSTSHELL_SIGNING_KEY names no key"
	fi
fi
# A time that tar, cpio and rpm's header (32 bits, unsigned) can hold.
case $SOURCE_DATE_EPOCH in
'' | *[!0-9]* | 0?* | ???????????*) false ;;
*) [ "$SOURCE_DATE_EPOCH" -le 4294967295 ] ;;
esac || fail "SOURCE_DATE_EPOCH is not a whole number from 0 to 4294967295:\
 '$SOURCE_DATE_EPOCH'"

env -i PATH="$PATH" HOME="$work/home" TMPDIR="$work/tmp" LC_ALL=C TZ=UTC0 \
	GIT_CONFIG_NOSYSTEM=1 SOURCE_DATE_EPOCH="$SOURCE_DATE_EPOCH" setsid \
	sh "$work/head/dist/release.sh" --sealed "$work" "$commit" "$maint" "$version" \
	${given:+"$given"} &
pid=$! status=1
# Until it is reaped: a wait that a signal cuts short is taken up again.
while kill -0 "$pid" 2>/dev/null; do wait "$pid" && status=0 || status=$?; done
kill -s KILL -- "-$pid" 2>/dev/null
[ -z "$stopped" ] || fail "stopped: nothing made"
[ "$status" = 0 ] || exit "$status"
[ -z "$given" ] || exit 0

out=$work/out
version=$(sed -n 's/^Version: //p' "$out/BUILDINFO")
[ -z "$key" ] || for f in "firstshell-$version.tar.gz" SHA256SUMS; do
	gpg --batch --armor --detach-sign --local-user "$key" --output "$out/$f.asc" \
		"$out/$f" || fail "gpg cannot sign $f with '$key'"
done
# Moved whole: release/ is this commit's, or as it was.
partial=$(mktemp -d "$top/.release.XXXXXX") && cp -R "$out/." "$partial" &&
	chmod 755 "$partial" && rm -rf "$top/release" && mv "$partial" "$top/release" ||
	fail "cannot write release/"
partial=''
say "made release/ ($(date +%T)):" && cat "$top/release/SHA256SUMS"
