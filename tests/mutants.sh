#!/bin/sh
# SPDX-License-Identifier: ISC
#
# usage: mutants.sh SOURCE [CMAKE-ARG...]: puts each fault listed below into a copy of
# SOURCE's src/firstshell.cpp, builds it as CMAKE-ARGs configure, runs the whole suite on it,
# and reports it killed (by the cases that failed) or alive. A mutant listed as equivalent
# (everywhere, on musl, or on glibc) must live there, as a sound program; every other must
# die. Exits 1 unless each mutant did as listed.

set -u
src=$(CDPATH= cd -- "$1" && pwd) || exit 1
shift
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
trap 'exit 1' HUP INT TERM
# SOURCE, but for its build folders (with a CMakeCache.txt) and hidden files.
mkdir "$work/src"
for file in "$src"/*; do
	[ -e "$file/CMakeCache.txt" ] || cp -R "$file" "$work/src" || exit 1
done
program=$work/src/src/firstshell.cpp
cp "$program" "$work/original.cpp"
cmake -S "$work/src" -B "$work/build" ${1+"$@"} >"$work/log" 2>&1 || { cat "$work/log" && exit 1; }
libc=$(. "$work/build/settings.sh" && echo "$libc")

bad=0 killed=0 equivalent=0 alive=0
# mutant NAME SED [always|musl|glibc REASON]: the fault that the sed script
# makes, and where it is equivalent, for REASON.
mutant() {
	sed "$2" "$work/original.cpp" >"$program"
	if cmp -s "$work/original.cpp" "$program"; then
		echo "$1: the sed script no longer changes the program" && bad=1 && return
	elif ! cmake --build "$work/build" --target firstshell >"$work/log" 2>&1; then
		cat "$work/log" && echo "$1: does not build" && bad=1 && return
	fi
	(cd "$work/build" && ctest -j 2) >"$work/log" 2>&1
	killers=$(sed -n '/Skipped/d;s/.*Test *#[0-9]*: \([a-z_]*\) .*\*\*\*.*/\1/p' \
		"$work/log" | tr '\n' ' ')
	case ${3:-}:$libc:${killers:+killed} in
	always:*: | musl:musl: | glibc:glibc:)
		echo "$1: equivalent, alive: $4" && equivalent=$((equivalent + 1)) ;;
	always:*:killed | musl:musl:killed | glibc:glibc:killed)
		echo "$1: equivalent ($4), yet killed by $killers" && bad=1 ;;
	*:killed) echo "$1: killed by $killers" && killed=$((killed + 1)) ;;
	*) echo "$1: ALIVE" && bad=1 alive=$((alive + 1)) ;;
	esac
}
q="'" nl='
'
# To add code after the declaration of shell, and an #include after the first.
d='const char \*shell;' h="s|#include <err.h>|&\\$nl#include"

# The filter of absolute paths.
mutant filter_inverted "s|shell\[0\] != $q/$q|shell[0] == $q/$q|"
mutant filter_below "s|shell\[0\] != $q/$q|shell[0] < $q/$q|" \
	glibc "every entry glibc gives begins with /"
mutant filter_above "s|shell\[0\] != $q/$q|shell[0] > $q/$q|" \
	glibc "every entry glibc gives begins with /"
mutant filter_second_byte "s|shell\[0\] != |shell[1] != |"
mutant filter_dropped "s| && shell\[0\] != $q/$q||"
mutant filter_passes_over_root "s|shell\[0\] != $q/$q)|(shell[0] != $q/$q \|\| shell[1] == 0))|"
mutant loop_once "s|while ((shell|if ((shell|;s|continue;|;|" \
	glibc "glibc's first entry is absolute"
mutant loop_breaks "s|continue;|break;|" glibc "the loop's body never runs"
mutant loop_end_inverted "s|) != nullptr \&\&|) == nullptr \&\&|"
mutant skips_first_entry "s|$d|& getusershell();|"
mutant rewinds_first "s|$d|& setusershell();|" \
	always "the list begins at its first entry either way"

# No shell.
mutant no_shell_inverted "s|if (shell == nullptr)|if (shell != nullptr)|"
mutant no_shell_status_0 "s|errx(1, |errx(0, |"
mutant no_shell_status_2 "s|errx(1, |errx(2, |"
mutant no_shell_message "s|no valid user shells|no valid shells|"
mutant no_shell_strerror "s|errx(1, |err(1, |"
mutant no_shell_goes_on "s|errx(1, |warnx(|"
mutant no_shell_silent "s|errx(1, \"no valid user shells\")|_exit(1)|"
mutant no_shell_default "s|errx(1, \"no valid user shells\")|shell = \"/bin/sh\"|"

# The line and how it is written.
mutant no_newline "s|puts(shell)|fputs(shell, stdout)|"
mutant to_stderr "s|puts(shell)|fprintf(stderr, \"%s\\\\n\", shell)|"
mutant twice "s|puts(shell) == EOF|puts(shell) == EOF \|\| puts(shell) == EOF|"
mutant printf_for_puts "s|puts(shell)|printf(\"%s\\\\n\", shell)|" \
	always "the same bytes, and the same errors"
mutant unbuffered "s|$d|& setvbuf(stdout, nullptr, _IONBF, 0);|" \
	always "each error is found as the line is written, not at the close"
mutant puts_ignored "s|puts(shell) == EOF|puts(shell) < EOF|"
mutant puts_below_0 "s|puts(shell) == EOF|puts(shell) < 0|" \
	always "puts returns EOF or a number that is not negative"
# musl's stdout writes its first line out at the newline, whatever it is.
mutant close_dropped "s| \|\| fclose(stdout) == EOF||" \
	musl "puts writes the line out, and finds the error"
mutant close_only_on_error "s|EOF \|\| fclose|EOF \&\& fclose|"
mutant close_stderr "s|fclose(stdout)|fclose(stderr)|" \
	musl "puts writes the line out, and finds the error"
mutant close_not_0 "s|fclose(stdout) == EOF|fclose(stdout) != 0|" always "fclose returns 0 or EOF"
mutant flush_for_close "s|fclose(stdout)|fflush(stdout)|" \
	always "only close(2) itself failing tells them apart, which no device does here"
mutant write_error_status_0 "s|err(1, \"write|err(0, \"write|"
mutant write_error_no_reason "s|err(1, \"write|errx(1, \"write|"
mutant write_error_message "s|\"write error\"|\"write failed\"|"
mutant sigpipe_ignored "s|$d|& signal(SIGPIPE, SIG_IGN);|;$h <signal.h>|"

# What the program must not look at, and how it ends.
mutant reads_stdin "s|$d|& (void)getchar();|"
mutant prints_argument "s|int main()|int main(int argc, char **argv)|
s|if (puts|if (argc > 1) shell = argv[1]; &|"
mutant prints_shell_variable "s|if (puts|if (getenv(\"SHELL\")) shell = getenv(\"SHELL\"); &|
$h <stdlib.h>|"
mutant status_1 "s|return 0;|return 1;|"
mutant aborts "s|return 0;|abort();|;$h <stdlib.h>|"
mutant closes_list "s|return 0;|endusershell(); &|" \
	always "the line is written before the list is let go"
mutant ends_at_once "s|return 0;|_exit(0);|" \
	always "the line has been written and the stream closed"

echo "mutants: $((killed + equivalent + alive)) ($killed killed, $equivalent equivalent," \
	"$alive alive)"
exit "$bad"
