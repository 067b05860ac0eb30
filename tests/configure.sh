#!/bin/sh
# SPDX-License-Identifier: ISC
#
# usage: configure.sh SOURCE: configures SOURCE as distributions and developers do, and checks
# that the configure step does as it should, saying what it checked as each passes. Needs
# Debian's dpkg-dev, g++-aarch64-linux-gnu and ninja-build.

set -u
# The defaults are what is checked: none of the caller's compiler or flags.
unset CC CXX CFLAGS CXXFLAGS CPPFLAGS LDFLAGS CMAKE_GENERATOR
src=$(CDPATH= cd -- "$1" && pwd) || exit 1
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
trap 'exit 1' HUP INT TERM
fail() { echo "configure: FAIL: $*" >&2 && exit 1; }
pass() { echo "configure: $*"; }
# configure DIR ARG...: a build of SOURCE in $work/DIR; build DIR [CONFIG].
configure() {
	dir=$work/$1 && shift
	cmake -S "$src" -B "$dir" -DCMAKE_EXPORT_COMPILE_COMMANDS=ON ${1+"$@"} >"$work/log" 2>&1 ||
		fail "configure $*: $(cat "$work/log")"
}
build() {
	cmake --build "$1" ${2:+--config "$2"} >"$work/log" 2>&1 ||
		fail "build $1: $(cat "$work/log")"
}
# lines DIR: the compile and link lines of firstshell, one a line.
lines() {
	sed -n 's/^ *"command": "\(.*firstshell\.cpp\)",$/\1/p' "$1/compile_commands.json"
	cat "$1/CMakeFiles/firstshell.dir/link.txt"
}
# flags NAME CXXFLAGS LDFLAGS: built with these flags given, as a distribution
# builds (the build type None), no word stands twice on a line.
flags() {
	configure "$1" -DCMAKE_BUILD_TYPE=None -DFIRSTSHELL_WERROR=ON "-DCMAKE_CXX_FLAGS=$2" \
		"-DCMAKE_EXE_LINKER_FLAGS=$3"
	build "$work/$1"
	twice=$(lines "$work/$1" | while read -r line; do
		printf '%s\n' $line | sort | uniq -d
	done)
	[ -z "$twice" ] || fail "$1: twice on a line:" $twice
}
# elf BINARY: the default build's ELF case, run on BINARY; its words.
elf() {
	cmake -DFIRSTSHELL_TEST_PROGRAM="$1" "$work/default" >/dev/null &&
		(cd "$work/default" && ctest -R loads_only_the_c_library --output-on-failure) 2>&1
}
debian() { DEB_BUILD_MAINT_OPTIONS=$1 dpkg-buildflags --get "$2"; }

configure off -DBUILD_TESTING=OFF
(cd "$work/off" && ctest -N) | grep -q 'Total Tests: 0' || fail "BUILD_TESTING=OFF builds tests"
# As debhelper configures a cross build: no emulator named.
configure cross -DCMAKE_SYSTEM_NAME=Linux -DCMAKE_SYSTEM_PROCESSOR=aarch64 \
	-DCMAKE_CXX_COMPILER=aarch64-linux-gnu-g++
grep -q 'the tests are left out' "$work/log" ||
	fail "a cross build without an emulator says nothing"
build "$work/cross"
cmake -DFIRSTSHELL_TEST_ALL=ON "$work/cross" >/dev/null 2>&1 &&
	fail "FIRSTSHELL_TEST_ALL, yet a cross build without an emulator configures"
pass "BUILD_TESTING; a cross build without an emulator, with and without TEST_ALL"

# Debian's flags, as debhelper passes them, and Fedora's usual ones.
for options in '' hardening=+all hardening=-all; do
	flags "debian$options" "$(debian "$options" CPPFLAGS) $(debian "$options" CXXFLAGS)" \
		"$(debian "$options" LDFLAGS)"
done
flags fedora "$(echo -O2 -flto=auto -ffat-lto-objects -fexceptions -g -grecord-gcc-switches \
	-pipe -Wall -Werror=format-security -Wp,-U_FORTIFY_SOURCE,-D_FORTIFY_SOURCE=3 \
	-Wp,-D_GLIBCXX_ASSERTIONS -fstack-protector-strong -m64 -mtune=generic \
	-fasynchronous-unwind-tables -fstack-clash-protection -fcf-protection)" \
	'-Wl,-z,relro -Wl,--as-needed -Wl,-z,now'
pass "Debian's flags (default, +all, -all) and Fedora's: nothing twice"

# The default build has every protection; refusals win, and the ELF case
# tells their binaries from a hardened one.
configure default
build "$work/default"
for flag in -fstack-protector-strong -fstack-clash-protection \
	-fcf-protection -D_FORTIFY_SOURCE=2 -fPIE -Wl,-z,relro -Wl,-z,now; do
	lines "$work/default" | grep -q -e " $flag " || fail "the default build lacks $flag"
done
elf "$work/default/firstshell" >/dev/null || fail "the default build's ELF"
configure refused '-DCMAKE_CXX_FLAGS=-fno-stack-protector -fcf-protection=none -fno-PIE' \
	'-DCMAKE_EXE_LINKER_FLAGS=-no-pie -Wl,-z,norelro -Wl,-z,lazy'
build "$work/refused"
# The compiler takes the last of two contrary options.
lines "$work/refused" | grep -E -e '-fno-stack-protector .*-fstack-protector-strong' \
	-e '-fcf-protection=none .*-fcf-protection ' &&
	fail "a default comes after the flag given that refuses it"
elf "$work/refused/firstshell" | grep -q 'headers show no pie relro now' ||
	fail "-no-pie, -z norelro or -z lazy lost, or the ELF case misses it"
elf "$work/debianhardening=-all/firstshell" | grep -q 'headers show no pie' ||
	fail "Debian's hardening=-all: a PIE all the same, or the ELF case misses it"
# A linker that refuses -z now: the build lacks it, and its ELF case expects
# none; once the linker takes it, the next configure adds it. A compiler that
# sets _FORTIFY_SOURCE itself is given no other.
printf '#!/bin/sh\ncase " $* " in *-z,now*) exit 1 ;; esac\nexec g++ "$@"\n' >"$work/g++"
chmod +x "$work/g++"
configure lazy -DCMAKE_CXX_COMPILER="$work/g++" -DFIRSTSHELL_TEST_ALL=ON
build "$work/lazy"
lines "$work/lazy" | grep -q -e '-z,now' && fail "-z now, which the linker refuses"
(cd "$work/lazy" && ctest -R loads_only_the_c_library --output-on-failure) >"$work/log" 2>&1 ||
	fail "a linker without -z now: $(cat "$work/log")"
printf '#!/bin/sh\nexec g++ -D_FORTIFY_SOURCE=3 "$@"\n' >"$work/g++"
configure lazy -DFIRSTSHELL_WERROR=ON
build "$work/lazy"
lines "$work/lazy" | grep -q -e '-z,now' || fail "a failed probe was not made again"
lines "$work/lazy" | grep -q -e '-D_FORTIFY_SOURCE=2' && fail "fortified over the compiler's"
pass "every protection by default; refusals win; a linker without -z now, then with it;" \
	"a compiler that fortifies"

# The same folder configured again with other flags, and a broken source
# mended: each gives the right result without a new folder.
configure default -DCMAKE_CXX_FLAGS=-D_FORTIFY_SOURCE=3 -DFIRSTSHELL_WERROR=ON \
	-DFIRSTSHELL_TEST_PROGRAM=
build "$work/default"
lines "$work/default" | grep -q -e '-D_FORTIFY_SOURCE=2' &&
	fail "a second configure kept -D_FORTIFY_SOURCE=2"
mkdir "$work/tree"
for file in "$src"/*; do
	[ -e "$file/CMakeCache.txt" ] || cp -R "$file" "$work/tree" || exit 1
done
echo 'broken' >>"$work/tree/src/firstshell.cpp"
src=$work/tree
configure mended -DFIRSTSHELL_STATIC=ON
cmake --build "$work/mended" >/dev/null 2>&1 && fail "a broken source built"
sed '$d' "$work/tree/src/firstshell.cpp" >"$work/good.cpp"
cp "$work/good.cpp" "$work/tree/src/firstshell.cpp"
build "$work/mended"
[ "$(. "$work/mended/settings.sh" && echo "$link")" = static-pie ] ||
	fail "the mended source links no static PIE"
pass "configured again with other flags, mended: right each time"

# Ninja Multi-Config: every configuration builds, passes, installs; is fortified
# where it optimises.
configure multi -G 'Ninja Multi-Config'
for config in Debug Release RelWithDebInfo; do
	build "$work/multi" $config
	(cd "$work/multi" && ctest -C $config) >"$work/log" 2>&1 ||
		fail "Ninja Multi-Config, $config: the suite failed: $(cat "$work/log")"
	grep -q _FORTIFY_SOURCE "$work/multi/CMakeFiles/impl-$config.ninja"
	[ "$?" = "$([ $config = Debug ] && echo 1 || echo 0)" ] ||
		fail "Ninja Multi-Config, $config: fortified but not optimised, or the reverse"
	cmake --install "$work/multi" --config $config --prefix "$work/multi-$config" >/dev/null ||
		fail "Ninja Multi-Config, $config: install failed"
done
pass "Ninja Multi-Config: Debug, Release, RelWithDebInfo build, pass, install"
