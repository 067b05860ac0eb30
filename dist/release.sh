#!/bin/sh
# SPDX-License-Identifier: ISC
# usage: sh dist/release.sh [--depends | --rebuild DIR [KEYRING]]        (see doc/release.md)
# This copy checks the inputs and exports the source to a scratch folder, whose copy of this
# script runs --sealed, in a session of its own; then this one signs, and moves release/ in.

set -u && umask 022
export LC_ALL=C TZ=UTC0 PATH=/usr/sbin:/usr/bin:/sbin:/bin CDPATH=
say() { echo "firstshell release: $*"; }
fail() { [ -z "${2:-}" ] || tail -n 60 "$2" >&2; say "$1" >&2; exit 1; } # WHAT [LOG]
# tools SOURCE: beyond the .deb's Build-Depends, what makes the .rpm and the tarballs.
tools() {
	cmake -P "$1/cmake/processors.cmake" | awk -v native="$(dpkg --print-architecture)" '
		BEGIN { printf "git, rpm, qemu-user, musl-dev" }
		$1 != native { t = $2; gsub(/_/, "-", t); printf ", g++-%s, musl-dev:%s", t, $1 }
		END { print "" }'
}
# depends SOURCE: what the release needs, in Debian's words: what builds, then what checks.
depends() {
	echo "build-essential, $(sed -n 's/^Build-Depends: //p' "$1/dist/debian/control")," \
		"$(tools "$1"), lintian, rpmlint, gnupg, diffoscope-minimal"
}
# changelog deb|rpm MAINTAINER <CHANGELOG: its entries ("firstshell VERSION -- RFC 2822 DATE",
# items "  * ", next lines indented 4) in the format's words (dch writes one entry at a time).
changelog() {
	m=$2 awk -v to="$1" '
	function signed() { if (d) print (to == "deb" ? "\n -- " m "  " d "\n" : "") }
	BEGIN { m = ENVIRON["m"]; if (to == "rpm") gsub(/%/, "%%", m) }
	/^firstshell [^ ]+ -- / {
		signed(); d = substr($0, index($0, " -- ") + 4); sub(/,/, "", $4)
		if (to == "deb") print "firstshell (" $2 ") unstable; urgency=medium\n"
		else print "* " $4 " " $6 " " $5 " " $7 " " m " - " $2 "-1"
	}
	/^  / { if (to == "rpm") { gsub(/%/, "%%"); sub(/^  \* /, "- ") || sub(/^    /, "  ") }
		print }
	END { signed() }'
}
sealed() { # WORK MAINTAINER COMMIT|GIVEN: run from the source it releases, into WORK/out
	work=$1 maint=$2 out=$1/out head=$1/head given='' native=$(dpkg --print-architecture)
	case $3 in /*) given=$3 ;; esac
	version=$(sed -n '1s/^firstshell \([0-9.]*\) -- .*/\1/p' "$head/CHANGELOG")
	tarball=$out/firstshell-$version.tar.gz src=$work/src/firstshell-$version
	mkdir "$out" "$work/src" "$work/tar" && deps=$(depends "$head") || exit 1
	# Before anything is built: every tool, and a maintainer lintian takes (Email::Address::XS).
	dpkg-checkbuilddeps -d "$deps" "$head/dist/debian/control" 2>"$work/deps" ||
		fail "$(sed 's/.*error: //' "$work/deps") (sh dist/release.sh --depends lists all)"
	perl -MEmail::Address::XS=parse_email_addresses -e '$m = shift;
		@a = parse_email_addresses($m); exit !(utf8::decode(my $u = $m) &&
		$m !~ /[\0-\x1f\x7f]/ && @a == 1 && $a[0]->host =~ /\./ && ($m eq $a[0]->format ||
		$m eq $a[0]->phrase . " <" . $a[0]->address . ">"))' "$maint" ||
		fail "FIRSTSHELL_MAINTAINER is not one address, Name <address>, in UTF-8: '$maint'"
	# The source: the commit, and the spec rpmbuild -tb reads (from CHANGELOG and control).
	if [ -n "$given" ]; then
		cp "$given/${tarball##*/}" "$out/"
	else
		{ awk -v v="$version" -v d="$(sed -n 's/^ //p' "$head/dist/debian/control")" \
			'{ sub(/@VERSION@/, v) } /^@DESCRIPTION@$/ { $0 = d } 1' \
			"$head/dist/firstshell.spec.in" &&
			changelog rpm "$maint" <"$head/CHANGELOG"; } >"$work/firstshell.spec" &&
			git --git-dir="$work/git" -c tar.umask=0022 archive "--prefix=${src##*/}/" \
				"--add-file=$work/firstshell.spec" "$3" | gzip -9n >"$tarball"
	fi && tar -xzf "$tarball" -C "$work/src" || exit 1
	# dpkg-buildflags' own flags, not /etc/dpkg/buildflags.conf's (no record names them).
	for f in $(dpkg-buildflags --list); do [ "$(dpkg-buildflags --origin "$f")" = vendor ] ||
		fail "dpkg-buildflags: /etc/dpkg/buildflags.conf sets $f"; done
	# The .deb from dist/debian/, its control given the maintainer and the other files' tools.
	cp -R "$src/dist/debian" "$src/debian" && cp "$src/LICENSE" "$src/debian/copyright" &&
		changelog deb "$maint" <"$src/CHANGELOG" >"$src/debian/changelog" &&
		{ sed -n 1p "$src/dist/debian/control" && printf '%s: %s\n' Maintainer "$maint" \
			Build-Depends-Arch "$(tools "$src")" && sed 1d "$src/dist/debian/control"
		} >"$src/debian/control" && say "the .deb: dpkg-buildpackage ($(date +%T))" &&
		# -j1: a .buildinfo records the parallel builds DEB_BUILD_OPTIONS asks for.
		(cd "$src" && dpkg-buildpackage -b -j1 --no-sign) >"$work/deb.log" 2>&1 ||
		fail "dpkg-buildpackage failed" "$work/deb.log"
	# The .rpm, its times clamped by rpm's macros; the build ID kept from the build's path as
	# dpkg does it; the manual compressed by brp-compress, which needs bash (not Debian's sh).
	rpmbuild -tb --nodeps --define "_topdir $work/rpm" --define "_tmppath $work/tmp" \
		--define "packager $(printf %s "$maint" | sed 's/[%\\]/&&/g')" \
		--define '_buildhost reproducible' --define 'use_source_date_epoch_as_buildtime 1' \
		--define 'clamp_mtime_to_source_date_epoch 1' \
		--define 'optflags -O2 -g -ffile-prefix-map=${PWD}=.' \
		--define '__brp_compress bash %{_rpmconfigdir}/brp-compress %{?_prefix}' \
		"$tarball" >"$work/rpm.log" 2>&1 || fail "rpmbuild failed" "$work/rpm.log"
	mv "$work"/src/*.deb "$work"/src/*.buildinfo "$work"/rpm/RPMS/*/*.rpm "$out/" || exit 1
	# A standalone tarball a processor: a static PIE against musl, stripped, the suite run on
	# it; as the table says, ARMv6 machines run armel's, 32-bit ARMv8 ones armhf's.
	cmake -P "$src/cmake/processors.cmake" | while read -r arch _ _ emulator uname; do
		t=firstshell-$version-linux-$uname b=$work/$arch stage=$work/tar/$t
		cross=$([ "$arch" = "$native" ] || echo "-DFIRSTSHELL_ARCH=$arch")
		cpu=$(case $arch in armel) echo arm1176 ;; armhf) echo max ;; esac)
		say "$t: configure, build, install, suite ($(date +%T))"
		{ cmake -S "$src" -B "$b" -DCMAKE_BUILD_TYPE=Release -DFIRSTSHELL_TEST_ALL=ON \
			"-DCMAKE_TOOLCHAIN_FILE=$src/cmake/musl.cmake" -DFIRSTSHELL_STATIC=ON \
			"-DFIRSTSHELL_TEST_PROGRAM=$stage/bin/firstshell" $cross &&
			cmake --build "$b" && cmake --install "$b" --prefix "$stage" --strip &&
			(cd "$b" && ctest --output-on-failure) && { [ -z "$cpu" ] || (cd "$b" &&
			cmake "-DCMAKE_CROSSCOMPILING_EMULATOR=$emulator;-cpu;$cpu" . &&
			ctest --output-on-failure); }; } >"$b.log" 2>&1 ||
			fail "$t: its build, install or suite (-cpu ${cpu:-}) fails" "$b.log"
		cd "$stage" && gzip -9n share/man/man1/firstshell.1 && cp "$src/README.md" \
			"$src/LICENSE" . && cp /usr/share/doc/musl/copyright LICENSE.musl &&
			tar -C "$work/tar" --sort=name --owner=0 --group=0 --numeric-owner \
				"--mtime=@$SOURCE_DATE_EPOCH" --format=gnu -cf - "$t" |
			gzip -9n >"$out/$t.tar.gz" || exit 1
	done || exit 1
	sh "$head/dist/lint.sh" "$out"/*.deb "$out"/*.rpm "$src/firstshell.spec" >"$work/lint" \
		2>&1 || fail "lintian or rpmlint finds a fault" "$work/lint"
	(cd "$out" && sha256sum -- * >SHA256SUMS) && { [ -z "$given" ] || compare; }
}
# compare: the files made, as SHA256SUMS lists them, GIVEN's but the .buildinfo (its system).
compare() {
	grep -v '\.buildinfo$' "$given/SHA256SUMS" >"$work/given" && grep -v '\.buildinfo$' \
		"$out/SHA256SUMS" | diff "$work/given" - >"$work/differ" &&
		say "rebuilt: each file as $given's, byte for byte" && return
	sed -n 's/^> [0-9a-f]*  //p' "$work/differ" |
		while read -r f; do diffoscope "$given/$f" "$out/$f"; done
	fail "rebuilt: these differ from $given's (diffoscope shows how):" "$work/differ"
}
tarname() { grep -x 'firstshell-[0-9.]*\.tar\.gz'; } # of the names read, the source tarball's

case ${1:-} in
--sealed) shift && sealed "$@"; exit ;;
--depends) depends "$(dirname "$0")/.."; exit ;;
--rebuild) [ $# -le 3 ] && given=$(cd "${2:-.}" && pwd) && [ -f "$given/SHA256SUMS" ] ||
	fail "--rebuild DIR [KEYRING]: no SHA256SUMS in ${2:-DIR}"
	keyring=${3:+$(realpath -e -- "$3")} || fail "--rebuild DIR KEYRING: no keyring '$3'" ;;
'') given='' ;;
*) fail "usage: sh dist/release.sh [--depends | --rebuild DIR [KEYRING]]" ;;
esac
top=$(cd "$(dirname "$0")/.." && pwd) || exit 1
key=${FIRSTSHELL_SIGNING_KEY:-} work='' partial='' pid='' stopped='' now=$(date +%s)
stop() { stopped=1 && [ -n "$pid" ] && kill -s TERM -- "-$pid" 2>/dev/null || exit 1; }
trap '[ -z "$work" ] || rm -rf "$work" ${partial:+"$partial"}' EXIT
trap stop INT TERM HUP PIPE
# TMPDIR as rpmbuild, dpkg and make can build in: absolute, of letters, digits, /._+- alone.
case ${TMPDIR:-/tmp} in /*) ;; *) fail "TMPDIR is not an absolute path: '$TMPDIR'" ;; esac
work=$(mktemp -d "${TMPDIR:-/tmp}/firstshell-release.XXXXXX") && work=$(cd "$work" && pwd -P) &&
	mkdir "$work/home" "$work/head" "$work/tmp" ||
	fail "cannot make a folder in TMPDIR '${TMPDIR:-/tmp}'"
case $work in *[!A-Za-z0-9/._+-]*) fail "TMPDIR: rpmbuild, dpkg or make cannot build in '$work'" ;;
esac
printf '#!/bin/sh\n' >"$work/tmp/run" && chmod 755 "$work/tmp/run" && "$work/tmp/run" ||
	fail "TMPDIR: no program can run in '$work' (a noexec mount?)"
# git as the release runs it: no settings but the project's, no GIT_* variable.
sealed_git() { env -i PATH="$PATH" HOME="$work/home" GIT_CONFIG_NOSYSTEM=1 git "$@"; }

if [ -n "$given" ]; then
	# Before anything of DIR runs: each signature, given a KEYRING; each file SHA256SUMS lists.
	! grep -q "$(printf '\r')" "$given/SHA256SUMS" ||
		fail "$given/SHA256SUMS has CRLF line ends, as sha256sum writes none: make them LF"
	[ -n "$keyring" ] || say "signatures not checked: no KEYRING named"
	[ -z "$keyring" ] || (cd "$given" && gpgv --keyring "$keyring" SHA256SUMS.asc SHA256SUMS) ||
		fail "SHA256SUMS.asc: not a good signature by a key of $keyring"
	(cd "$given" && sha256sum --quiet --strict -c SHA256SUMS) >&2 ||
		fail "$given: a file SHA256SUMS lists is missing or changed (named above)"
	sed -n 's/^[0-9a-f]\{64\} [ *]//p' "$given/SHA256SUMS" >"$work/listed"
	say "left alone, as SHA256SUMS does not list them:" $(cd "$given" && ls |
		grep -vxF -e SHA256SUMS -f "$work/listed" | grep -v '\.asc$')
	maint=$(dpkg-deb -f "$given/$(grep '\.deb$' "$work/listed")" Maintainer) &&
		SOURCE_DATE_EPOCH=$(sed -n 's/^ SOURCE_DATE_EPOCH="\(.*\)"$/\1/p' \
		"$given/$(grep '\.buildinfo$' "$work/listed")") && from=$given &&
		tar -xzf "$given/$(tarname <"$work/listed")" --strip-components=1 -C "$work/head" ||
		fail "$given: no source tarball, .deb or .buildinfo to rebuild from"
else
	maint=${FIRSTSHELL_MAINTAINER:-}
	[ -n "$maint" ] || fail 'nothing built: set FIRSTSHELL_MAINTAINER="Name <address>"'
	# This script's checkout, whatever GIT_DIR says; trusted, whoever owns it.
	sealed_git config --global safe.directory '*' &&
		from=$(sealed_git -C "$top" rev-parse HEAD) || fail "not a git checkout: $top"
	[ -z "$(sealed_git -C "$top" status --porcelain)" ] ||
		fail "$top has uncommitted changes, which a release leaves out: commit them first"
	[ ! -e "$top/release" ] || [ "$(cd "$top/release" && gzip -dc "$(ls | tarname)" |
		sealed_git get-tar-commit-id)" = "$from" ] ||
		fail "release/ holds another commit's release: move it away first"
	[ -n "$key" ] || ! ls "$top"/release/*.asc >/dev/null 2>&1 ||
		fail "release/ is signed: name the key (FIRSTSHELL_SIGNING_KEY), or move it away"
	sealed_git clone -q --bare --shared "$top" "$work/git" &&
		sealed_git --git-dir="$work/git" archive "$from" | tar -xf - -C "$work/head" ||
		fail "git cannot export commit $from"
	: "${SOURCE_DATE_EPOCH:=$(sealed_git --git-dir="$work/git" log -1 --format=%ct "$from")}"
	[ -n "$key" ] || say "unsigned: FIRSTSHELL_SIGNING_KEY names no key"
	[ -z "$key" ] || echo | gpg --batch -u "$key" --detach-sign >/dev/null 2>"$work/gpg" ||
		fail "FIRSTSHELL_SIGNING_KEY: gpg cannot sign with '$key'" "$work/gpg"
fi
# The packages' times: dpkg-deb and rpm clamp to it those of files made later, not those made
# before it; lintian calls a file from 1975 or earlier ancient.
case $SOURCE_DATE_EPOCH in '' | *[!0-9]* | 0?* | ???????????*) false ;;
*) [ "$SOURCE_DATE_EPOCH" -ge 189302400 ] && [ "$SOURCE_DATE_EPOCH" -le "$now" ] ;;
esac || fail "SOURCE_DATE_EPOCH '$SOURCE_DATE_EPOCH' is not a time from 1976 (189302400) to\
 now ($now): set the clock, or SOURCE_DATE_EPOCH"

env -i PATH="$PATH" HOME="$work/home" TMPDIR="$work/tmp" LC_ALL=C TZ=UTC0 \
	SOURCE_DATE_EPOCH="$SOURCE_DATE_EPOCH" setsid \
	sh "$work/head/dist/release.sh" --sealed "$work" "$maint" "$from" &
pid=$! status=1
# Until it is reaped: a wait that a signal cuts short is taken up again.
while kill -0 "$pid" 2>/dev/null; do wait "$pid" && status=0 || status=$?; done
kill -s KILL -- "-$pid" 2>/dev/null
[ -z "$stopped" ] || fail "stopped: nothing made"
[ "$status" = 0 ] || exit "$status"
[ -z "$given" ] || exit 0
for f in ${key:+"$(cd "$work/out" && ls | tarname)" SHA256SUMS}; do
	gpg --batch -ab -u "$key" -o "$work/out/$f.asc" "$work/out/$f" || fail "gpg cannot sign $f"
done
# Moved whole: release/ is this commit's, or as it was.
partial=$(mktemp -d "$top/.release.XXXXXX") && cp -R "$work/out/." "$partial" &&
	chmod 755 "$partial" && rm -rf "$top/release" && mv "$partial" "$top/release" ||
	fail "cannot write release/"
partial=''
say "made release/ ($(date +%T)):" && cat "$top/release/SHA256SUMS"
