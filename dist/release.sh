#!/bin/sh
# SPDX-License-Identifier: ISC
#
# usage: sh dist/release.sh [--depends | --rebuild DIR]            (see doc/release.md)
# Makes release/ from the last commit, at the top of a git checkout on Debian.

set -u
# The same bytes whoever makes it: nothing of the caller's reaches a build.
umask 022
LC_ALL=C TZ=UTC0 PATH=/usr/sbin:/usr/bin:/sbin:/bin
export LC_ALL TZ PATH SOURCE_DATE_EPOCH
unset CC CXX CFLAGS CXXFLAGS CPPFLAGS LDFLAGS GZIP TAR_OPTIONS CMAKE_GENERATOR CMAKE_TOOLCHAIN_FILE
top=$(cd "$(dirname "$0")/.." && pwd) || exit 1
work=$top/build-release out=$top/build-release/out trace='' given=''
say() { echo "firstshell release: $*"; }
fail() { # WHAT [LOG]
	[ -z "${2:-}" ] || tail -n 40 "$2" >&2
	echo "firstshell release: $1${2:+; see $2}" >&2 && exit 1
}
table=$(cmake -P "$top/cmake/processors.cmake") || fail "cmake/processors.cmake gives no table"
native=$(dpkg --print-architecture) || fail "dpkg: this is not Debian"

# The packages that make the bytes, BUILDINFO's roots, with each processor's cross
# compiler and musl (this machine's are g++ and musl-dev); those that check; those used
# if installed: binutils-multiarch's strip replaces binutils', dpkg-shlibdeps opens
# libc6-i386's libc looking for the binary's, and dpkg's Perl loads Locale::gettext.
roots() {
	echo g++ cmake make binutils dpkg-dev rpm git gzip tar file musl-dev
	echo "$table" | while read -r arch triplet _; do
		[ -z "$arch" ] || [ "$arch" = "$native" ] || echo "g++-$triplet musl-dev:$arch"
	done
}
checkers="lintian rpmlint qemu-user cpio strace"
optional="binutils-multiarch libc6-i386 liblocale-gettext-perl"

# Each installed package that is Essential, a root, or (recursively) a Depends or
# Pre-Depends of one, as dpkg-genbuildinfo lists them (each alternative and provider;
# a foreign one's in its architecture); "missing NAME" for a root or checker not there.
closure() {
	f='${db:Status-Abbrev}\t${Package}\t${Architecture}\t${Version}\t${Essential}'
	dpkg-query -W -f="$f"'\t${Provides}\t${Pre-Depends}, ${Depends}\n' | awk -F '\t' \
		-v roots="$(roots) $optional" -v need="$(roots) $checkers" -v native="$native" '
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
		for (i = split(need, p, /[ \n]+/); i > 0; i--)
			if (find(p[i]) == "" && providers[p[i]] == "") print "missing " p[i]
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
				queue[++n] = p[i] (foreign && p[i] !~ /:/ && \
					(p[i] foreign) in version ? foreign : "")
		}
	}' | sort -u
}

# run STEP COMMAND...: COMMAND; with $trace set, what it opens or runs goes to trace/STEP.*
run() {
	s=$work/trace/$1 && shift
	[ -z "$trace" ] || set -- strace -f -ff -qq -o "$s" \
		-e trace=execve,execveat,open,openat,openat2 "$@"
	"$@"
}
# BUILDINFO is whole if each file the traced steps opened or ran is owned by a
# package it names: settings, kernel files, locales, time zones, this work and
# files no package owns aside. Some are owned by their paths from before /usr merged.
check_trace() {
	cat "$work"/trace/* | sed -n 's/^[^"]*"\(\/[^"]*\)".*) = [0-9]*$/\1/p' |
		grep -vE "^/(etc|proc|sys|dev|tmp)/|^/usr/(lib|share)/(locale|zoneinfo)/" |
		grep -vF "$top/" | sort -u >"$work/opened"
	tr '\n' '\0' <"$work/opened" | xargs -0 realpath -qe -- | sort -u - "$work/opened" |
		awk '{ print } /^\/usr\/(s?bin|lib[^\/]*)\// { print substr($0, 5) }' >"$work/paths"
	(set -f && dpkg -S $(cat "$work/paths")) 2>/dev/null | sed '/diversion /d; s/: \/.*//' |
		tr -d ' ' | tr ',' '\n' | sed "s/:$native\$//" | sort -u >"$work/owners"
	sed 's/ .*//' "$work/packages" | comm -23 "$work/owners" - >"$work/lacking"
	[ ! -s "$work/lacking" ] || fail "BUILDINFO lacks packages the builds used" "$work/lacking"
	say "trace: the builds used $(wc -l <"$work/owners") packages, each of BUILDINFO's" \
		"$(wc -l <"$work/packages")"
}

# settle PACKAGE: packs a .deb or standalone tarball again from what it holds alone: cpack
# orders a tarball's entries as the file system gives them and counts Installed-Size from
# folder sizes it reports, and cannot be told otherwise. Leaves in $d its files, control
# data or header, and in $d.list its entries as ls -l lists them.
settle() {
	d=$work/unpacked/${1##*/} && rm -rf "$d" && mkdir -p "$d" || return
	case $1 in
	*.deb)
		dpkg-deb -R "$1" "$d" && size=$(find "$d" -path "$d/DEBIAN" -prune -o \
			-exec ls -ld {} + | awk '{ n += /^-/ ? int(($5 + 1023) / 1024) : 1 }
			END { print n }') &&
			sed "s/^Installed-Size: .*/Installed-Size: $size/" "$d/DEBIAN/control" \
			>"$d.control" && cp "$d.control" "$d/DEBIAN/control" &&
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

# build NAME CMAKE-ARG...: configure, build, the whole suite, cpack, settle, and the whole
# suite again on each binary packed.
build() {
	b=$work/$1 log=$work/$1.log && shift
	say "${b##*/}: configure, build, suite, cpack ($(date +%T))"
	{ configure run "${b##*/}.configure" cmake -S "$src" -B "$b" "$@" &&
		run "${b##*/}.build" cmake --build "$b" && (cd "$b" && ctest --output-on-failure) &&
		(cd "$b" && run "${b##*/}.cpack" cpack); } >"$log" 2>&1 </dev/null ||
		fail "${b##*/}: the build, its suite or cpack failed" "$log"
	for p in "$b"/firstshell*.deb "$b"/firstshell*.rpm "$b"/firstshell*.tar.gz; do
		[ -f "$p" ] || continue
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
	c=$(mktemp -d) && chmod 755 "$c" && tar -xzf "$out/${src##*/}.tar.gz" -C "$c" &&
		chmod -R a-w "$c/${src##*/}" || exit 1
	as='' b=$c/build log=$work/distcheck.log
	[ "$(id -u)" != 0 ] || { as='runuser -u nobody --' && chown nobody "$c"; }
	{ configure $as cmake -S "$c/${src##*/}" -B "$b" && $as cmake --build "$b" &&
		(cd "$b" && $as ctest --output-on-failure) &&
		DESTDIR=$c/stage $as cmake --install "$b" --prefix /usr &&
		[ -x "$c/stage/usr/bin/firstshell" ] && (cd "$b" && $as cpack -G 'DEB;RPM'); } \
		>"$log" 2>&1 </dev/null || fail "distcheck: the source tarball fails" "$log"
	for p in "$out"/*.deb "$out"/*.rpm; do
		settle "$b/${p##*/}" && cmp "$p" "$b/${p##*/}" ||
			fail "distcheck made another ${p##*/}"
	done
	chmod -R u+w "$c" && rm -rf "$c"
}

case ${1:-} in
--depends) { roots && echo $checkers diffoscope-minimal; } | tr ' ' '\n' && exit ;;
--rebuild) [ $# = 2 ] && given=$(cd "$2" && pwd) && [ -f "$given/BUILDINFO" ] ||
	fail "--rebuild DIR: no BUILDINFO in ${2:-DIR}" ;;
?*) fail "usage: sh dist/release.sh [--depends | --rebuild DIR]" ;;
esac
field() { sed -n "s/^$1: //p" "$given/BUILDINFO"; }
[ -z "$given" ] ||
	FIRSTSHELL_MAINTAINER=$(field Maintainer) SOURCE_DATE_EPOCH=$(field Source-Date-Epoch)
maint=${FIRSTSHELL_MAINTAINER:-${DEBFULLNAME:+"$DEBFULLNAME <${DEBEMAIL:-}>"}}
echo "$maint" | grep -qE '^[^<]*[^ <] <[^ >]+@[^ >]+>$' || fail "no maintainer: set\
 FIRSTSHELL_MAINTAINER=\"Name <address>\" (or DEBFULLNAME and DEBEMAIL); nothing was built"
key=${FIRSTSHELL_SIGNING_KEY:-}
rm -rf "$work" && mkdir -p "$out" "$work/trace" && closure >"$work/closure" || exit 1
grep -v '^missing ' "$work/closure" >"$work/packages"
! grep '^missing ' "$work/closure" >"$work/missing" || fail "not installed (--depends names\
 all; NAME:ARCH needs dpkg --add-architecture ARCH, apt-get update)" "$work/missing"
if [ -n "$given" ]; then
	version=$(field Version) commit=$(field Commit)
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
	version=$(. "$work/probe/settings.sh" && echo "$version") trace=1
	run archive git -C "$top" -c tar.umask=0022 -c core.autocrlf=false archive \
		"--prefix=firstshell-$version/" HEAD >"$work/source.tar" &&
		gzip -9n <"$work/source.tar" >"$out/firstshell-$version.tar.gz" || exit 1
fi
settle "$out/firstshell-$version.tar.gz" || fail "cannot unpack the source tarball"
src=$d/firstshell-$version trace=1
# The .deb and .rpm from the glibc build; a standalone tarball per processor.
build glibc
echo "$table" | while read -r arch _ _ _ uname; do
	name=musl cross=''
	[ "$arch" = "$native" ] && trace=1 || trace='' name=musl-$arch cross=-DFIRSTSHELL_ARCH=$arch
	build $name "-DCMAKE_TOOLCHAIN_FILE=$src/cmake/musl.cmake" -DFIRSTSHELL_STATIC=ON $cross
	t=firstshell-$version-linux-$uname && d=$work/unpacked/$t.tar.gz/$t
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

{
	printf '%s\n' "Format: 1.0" "Source: firstshell" "Version: $version" "Commit: $commit" \
		"Source-Date-Epoch: $SOURCE_DATE_EPOCH" "Maintainer: $maint" \
		"Build-Origin: $(. /etc/os-release && echo "$PRETTY_NAME")" \
		"Build-Architecture: $native" "Installed-Build-Depends:"
	sed 's/^/ /; $!s/$/,/' "$work/packages"
} >"$out/BUILDINFO"
(cd "$out" && sha256sum -- * >"$work/SUMS") && mv "$work/SUMS" "$out/SHA256SUMS" || exit 1

if [ -n "$given" ]; then
	differ=$(cd "$out" && sha256sum -c "$given/SHA256SUMS" 2>&1 | sed -n 's/: FAILED.*//p')
	cmp -s "$given/SHA256SUMS" "$out/SHA256SUMS" || differ="$differ SHA256SUMS"
	[ -n "$differ" ] || { say "rebuilt in $out: each file as $given/SHA256SUMS says" && exit; }
	command -v diffoscope >/dev/null || fail "differ: $differ (diffoscope-minimal shows how)"
	for f in $differ; do diffoscope "$given/$f" "$out/$f"; done
	fail "rebuilt in $out: these differ from $given: $differ"
fi
[ -n "$key" ] || say "unsigned: FIRSTSHELL_SIGNING_KEY names no key"
[ -z "$key" ] || for f in "firstshell-$version.tar.gz" SHA256SUMS; do
	gpg --batch --yes --armor --detach-sign --local-user "$key" --output "$out/$f.asc" \
		"$out/$f" || fail "gpg cannot sign $f with $key"
done
rm -rf "$top/release" && mv "$out" "$top/release" || exit 1
say "made release/ ($(date +%T)):" && cat "$top/release/SHA256SUMS"
