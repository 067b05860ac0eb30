#!/bin/sh
# SPDX-License-Identifier: ISC
#
# usage: sh dist/release.sh [--depends | --rebuild DIR]            (see doc/release.md)
# On Debian: release/ from the last commit, at the top of a git checkout; or with --rebuild,
# at the top of DIR's source tarball unpacked, DIR's release made again and compared.

set -u
# The same bytes whoever makes it: nothing of the caller's reaches a build.
umask 022
LC_ALL=C TZ=UTC0 PATH=/usr/sbin:/usr/bin:/sbin:/bin
export LC_ALL TZ PATH SOURCE_DATE_EPOCH
unset CC CXX CFLAGS CXXFLAGS CPPFLAGS LDFLAGS GZIP TAR_OPTIONS CMAKE_GENERATOR CMAKE_TOOLCHAIN_FILE
top=$(cd "$(dirname "$0")/.." && pwd) || exit 1
work=$top/build-release out=$top/build-release/out given='' trace=1
say() { echo "firstshell release: $*"; }
fail() { # WHAT [LOG]
	[ -z "${2:-}" ] || tail -n 40 "$2" >&2
	echo "firstshell release: $1${2:+; see $2}" >&2
	exit 1
}
table=$(cmake -P "$top/cmake/processors.cmake") || fail "cmake/processors.cmake gives no table"
native=$(dpkg --print-architecture) || fail "dpkg: this is not Debian"

# The packages that make the bytes, BUILDINFO's roots, with each processor's cross
# compiler and musl (this machine's are g++ and musl-dev); and those that check.
roots() {
	echo g++ cmake make binutils dpkg-dev rpm git gzip tar file musl-dev
	echo "$table" | awk -v native="$native" '$1 != native { print "g++-" $2, "musl-dev:" $1 }'
}
checkers="lintian rpmlint qemu-user cpio strace"
# Each installed package that is Essential, a root, or (recursively) a Depends or Pre-Depends
# of one, as dpkg-genbuildinfo lists them (each alternative and provider; a foreign one's in
# its architecture). Roots too, where installed: binutils-multiarch, whose strip replaces
# binutils'; libc6-i386, whose libc dpkg-shlibdeps opens; liblocale-gettext-perl, for dpkg.
closure() {
	f='${db:Status-Abbrev}\t${Package}\t${Architecture}\t${Version}\t${Essential}'
	dpkg-query -W -f="$f"'\t${Provides}\t${Pre-Depends}, ${Depends}\n' | awk -F '\t' \
		-v roots="$(roots) binutils-multiarch libc6-i386 liblocale-gettext-perl" \
		-v native="$native" '
	function find(x, s) { # the installed NAME:ARCH that x names, or ""
		if (split(x, s, ":") > 1 && s[2] !~ /^(any|native)$/)
			return (x in version) ? x : ""
		if ((s[1] ":" native) in version) return s[1] ":" native
		return (s[1] in arch) ? s[1] ":" arch[s[1]] : ""
	}
	$1 ~ /^.i/ {
		version[$2 ":" $3] = $4; depends[$2 ":" $3] = $7; arch[$2] = $3
		if ($5 == "yes") queue[++n] = $2
		for (i = split($6 ",", p, / *(\([^)]*\))? *, */); i > 0; i--)
			providers[p[i]] = providers[p[i]] " " $2
	}
	END {
		for (i = split(roots, p, /[ \n]+/); i > 0; i--) queue[++n] = p[i]
		for (q = 1; q <= n; q++) {
			if ((x = queue[q]) == "" || x in seen) continue
			seen[x] = 1
			if ((k = find(x)) == "") {
				for (i = split(providers[x], p, " "); i > 0; i--) queue[++n] = p[i]
				continue
			}
			foreign = x ~ /:/ && x !~ /:(any|native)$/ ? substr(k, index(k, ":")) : ""
			if (!foreign) sub(/:.*/, "", x)
			print x " (= " version[k] ")"
			for (i = split(depends[k] ",", p, / *(\([^)]*\))? *[,|] */); i > 0; i--)
				queue[++n] = p[i] (foreign && (p[i] foreign) in version ? foreign : "")
		}
	}' | sort -u
}
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
	sed -n 's/^[^"]*"\(\/[^"]*\)".*) = [0-9]*$/\1/p' "$work"/trace/* | grep -vF "$top/" |
		grep -vE '^/(etc|proc|sys|dev|tmp)/|^/usr/(lib|share)/(locale|zoneinfo)/' >"$work/opened"
	tr '\n' '\0' <"$work/opened" | xargs -0 realpath -qe -- | cat - "$work/opened" |
		sed -n 'p; s#^/usr\(/s\{0,1\}bin/\|/lib[^/]*/\)#\1#p' | sort -u >"$work/paths"
	(set -f && dpkg -S $(cat "$work/paths")) 2>/dev/null | sed "/^diversion /d; s/: \/.*//;
		s/:$native\(,\|\$\)/\1/g; s/, */\n/g" | sort -u >"$work/owners"
	[ -s "$work/owners" ] || fail "the trace names no package: nothing was traced"
	sed 's/ .*//' "$work/packages" | comm -23 "$work/owners" - >"$work/lacking"
	[ ! -s "$work/lacking" ] || fail "BUILDINFO lacks packages the builds used" "$work/lacking"
	say "trace: each of the $(wc -l <"$work/owners") packages the builds used is in BUILDINFO"
}
# settle PACKAGE: a .deb or standalone tarball packed again from what it holds alone, as
# cpack takes entries' order and folders' sizes from the file system. Sets the global d to
# $work/unpacked/NAME, its files, control data or header; in $d.list, its entries (ls -l).
settle() {
	d=$work/unpacked/${1##*/}
	rm -rf "$d" && mkdir -p "$d" || return
	case $1 in
	*.deb)
		dpkg-deb -R "$1" "$d" &&
			size=$(find "$d" -path "$d/DEBIAN" -prune -o -exec ls -ld {} + |
				awk '{ n += /^-/ ? int(($5 + 1023) / 1024) : 1 } END { print n }') &&
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
# build NAME CMAKE-ARG...: configure (a build against musl must link a static PIE), build,
# the whole suite, cpack, settle, and the whole suite again on each binary packed.
build() {
	name=$1 b=$work/$1 log=$work/$1.log
	shift
	say "$name: configure, build, suite, cpack ($(date +%T))"
	configure run "$name.configure" cmake -S "$src" -B "$b" "$@" >"$log" 2>&1 </dev/null ||
		fail "$name: the configure step failed" "$log"
	(. "$b/settings.sh" && [ "$libc" != musl ] || [ "$link" = static-pie ]) ||
		fail "$name: against musl, yet not a static PIE" "$b/settings.sh"
	{ run "$name.build" cmake --build "$b" && (cd "$b" && ctest --output-on-failure) &&
		(cd "$b" && run "$name.cpack" cpack); } >>"$log" 2>&1 </dev/null ||
		fail "$name: the build, its suite or cpack failed" "$log"
	for p in "$b"/firstshell[-_]*.*; do
		settle "$p" || fail "cannot pack $p again"
		bin=$(find "$d" -path '*/bin/firstshell' -type f)
		{ [ -n "$bin" ] && cmake "-DFIRSTSHELL_TEST_PROGRAM=$bin" "$b" &&
			(cd "$b" && ctest --output-on-failure); } >>"$log" 2>&1 </dev/null ||
			fail "${p##*/}: the suite fails on the binary it ships" "$log"
		cp "$p" "$out/" || exit 1
	done
}
# distcheck: the source tarball, unpacked where nobody may write, builds as nobody
# (or as the caller, if not root), passes, installs, and makes the same .deb and .rpm.
distcheck() {
	c=$(mktemp -d) && chmod 755 "$c" && tar -xzf "$out/firstshell-$version.tar.gz" -C "$c" &&
		chmod -R a-w "$c/firstshell-$version" || exit 1
	as='' b=$c/build log=$work/distcheck.log
	[ "$(id -u)" != 0 ] || { as='runuser -u nobody --' && chown nobody "$c"; }
	{ configure $as cmake -S "$c/firstshell-$version" -B "$b" && $as cmake --build "$b" &&
		(cd "$b" && $as ctest --output-on-failure) &&
		DESTDIR=$c/stage $as cmake --install "$b" --prefix /usr &&
		[ -x "$c/stage/usr/bin/firstshell" ] && (cd "$b" && $as cpack -G 'DEB;RPM'); } \
		>"$log" 2>&1 </dev/null || fail "distcheck: the source tarball fails" "$log"
	for p in "$out"/*.deb "$out"/*.rpm; do
		settle "$b/${p##*/}" && cmp "$p" "$b/${p##*/}" || fail "distcheck made another ${p##*/}"
	done
	chmod -R u+w "$c" && rm -rf "$c"
}

case ${1:-} in
--depends) exec printf '%s\n' $(roots) $checkers diffoscope-minimal ;;
--rebuild) [ $# = 2 ] && given=$(cd "$2" && pwd) && [ -f "$given/BUILDINFO" ] ||
	fail "--rebuild DIR: no BUILDINFO in ${2:-DIR}" ;;
?*) fail "usage: sh dist/release.sh [--depends | --rebuild DIR]" ;;
esac
# A rebuild is of the version, commit, date and maintainer BUILDINFO records.
field() { sed -n "s/^$1: //p" "$given/BUILDINFO"; }
[ -z "$given" ] || version=$(field Version) commit=$(field Commit) \
	SOURCE_DATE_EPOCH=$(field Source-Date-Epoch) FIRSTSHELL_MAINTAINER=$(field Maintainer)
maint=${FIRSTSHELL_MAINTAINER:-${DEBFULLNAME:+"$DEBFULLNAME <${DEBEMAIL:-}>"}}
echo "$maint" | grep -qE '^[^<]*[^ <] <[^ >]+@[^ >]+>$' ||
	fail 'nothing built: set FIRSTSHELL_MAINTAINER="Name <address>" (or DEBFULLNAME and DEBEMAIL)'
rm -rf "$work" && mkdir -p "$out" "$work/trace" && closure >"$work/packages" || exit 1
dpkg-query -W -f='${db:Status-Abbrev} ${binary:Package}\n' $(roots) $checkers 2>&1 |
	grep -v '^.i' >"$work/missing" && fail "not installed, of --depends' list" "$work/missing"
if [ -n "$given" ]; then
	sed -n '/^Installed-Build-Depends:/,/^[^ ]/s/^ \(.*[^,]\),\{0,1\}$/\1/p' \
		"$given/BUILDINFO" | diff - "$work/packages" >"$work/differ" ||
		fail "this system's packages (>) are not those BUILDINFO records (<)" "$work/differ"
	cp "$given/firstshell-$version.tar.gz" "$out/" || exit 1
else
	commit=$(git -C "$top" rev-parse HEAD) || fail "not a git checkout"
	[ -z "$(git -C "$top" status --porcelain)" ] || say "uncommitted changes are left out"
	SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git -C "$top" log -1 --format=%ct)}
	git -C "$top" archive --prefix=head/ HEAD | tar -xf - -C "$work" &&
		configure cmake -S "$work/head" -B "$work/probe" >"$work/probe.log" 2>&1 ||
		fail "the last commit does not configure" "$work/probe.log"
	version=$(. "$work/probe/settings.sh" && echo "$version")
	run archive git -C "$top" -c tar.umask=0022 -c core.autocrlf=false archive \
		"--prefix=firstshell-$version/" HEAD >"$work/source.tar" &&
		gzip -9n <"$work/source.tar" >"$out/firstshell-$version.tar.gz" || exit 1
fi
settle "$out/firstshell-$version.tar.gz" || fail "cannot unpack the source tarball"
src=$d/firstshell-$version
# The .deb and .rpm from the glibc build; a standalone tarball per processor.
build glibc
echo "$table" | while read -r arch _ _ _ uname; do
	name=musl cross='' trace=1
	[ "$arch" = "$native" ] || name=musl-$arch cross=-DFIRSTSHELL_ARCH=$arch trace=''
	build "$name" "-DCMAKE_TOOLCHAIN_FILE=$src/cmake/musl.cmake" -DFIRSTSHELL_STATIC=ON $cross
	t=firstshell-$version-linux-$uname d=$work/unpacked/$t.tar.gz/$t
	(cd "$d" && ls bin/firstshell share/man/man1/firstshell.1.gz README.md LICENSE) \
		>/dev/null && grep -q musl "$d/LICENSE.musl" || fail "$t.tar.gz lacks a file"
done || exit 1
check_trace
# Every package and tarball: linted, its folders 0755, files 0644 or 0755, and
# nothing in it (control data and headers too) left unfilled.
sh "$top/dist/lint.sh" "$out"/*.deb "$out"/*.rpm >"$work/lint.log" 2>&1 ||
	fail "lintian or rpmlint found what dist/lint.sh keeps no reason for" "$work/lint.log"
! grep -vE '^(drwxr-xr-x|-rw-r--r--|-rwxr-xr-x|lrwxrwxrwx) ' "$work"/unpacked/*.list \
	>"$work/modes" || fail "entries of other modes than 0755 or 0644" "$work/modes"
find "$work/unpacked" -type f -name '*.gz' -exec gzip -d {} +
! grep -rilE '@invali[d]|placeholde[r]|<[a-z_][a-z0-9_-]*@localhos[t]>' "$work/unpacked" \
	>"$work/unfilled" || fail "files with a stand-in address or text" "$work/unfilled"
say "lint, modes, no stand-in text: every file of every package passes"
distcheck

printf '%s\n' "Format: 1.0" "Source: firstshell" "Version: $version" "Commit: $commit" \
	"Source-Date-Epoch: $SOURCE_DATE_EPOCH" "Maintainer: $maint" \
	"Build-Origin: $(. /etc/os-release && echo "$PRETTY_NAME")" \
	"Build-Architecture: $native" "Installed-Build-Depends:" >"$out/BUILDINFO"
sed 's/^/ /; $!s/$/,/' "$work/packages" >>"$out/BUILDINFO"
(cd "$out" && sha256sum -- * >SHA256SUMS) || exit 1

if [ -n "$given" ]; then
	diff "$given/SHA256SUMS" "$out/SHA256SUMS" >"$work/differ" &&
		say "rebuilt in $out: each file as $given/SHA256SUMS says" && exit
	! command -v diffoscope >/dev/null || sed -n 's/^> [^ ]*  //p' "$work/differ" |
		while read -r f; do diffoscope "$given/$f" "$out/$f"; done
	fail "rebuilt in $out: files differ (diffoscope-minimal shows how)" "$work/differ"
fi
key=${FIRSTSHELL_SIGNING_KEY:-}
[ -n "$key" ] || say "unsigned: FIRSTSHELL_SIGNING_KEY names no key"
[ -z "$key" ] || for f in "firstshell-$version.tar.gz" SHA256SUMS; do
	gpg --batch --yes --armor --detach-sign --local-user "$key" --output "$out/$f.asc" \
		"$out/$f" || fail "gpg cannot sign $f with $key"
done
rm -rf "$top/release" && mv "$out" "$top/release" || exit 1
say "made release/ ($(date +%T)):" && cat "$top/release/SHA256SUMS"
