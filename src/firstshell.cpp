// SPDX-License-Identifier: ISC
//
// firstshell: print the first valid user shell, an absolute path.
//
// Which entries the list holds, and where it comes from, is the C library's
// business: the program asks it and reports what it is given.

#include <err.h>
#include <stdio.h>
#include <unistd.h>

int main()
{
	// Only an absolute path can be a login shell. glibc returns nothing
	// else, so this is one call there; musl returns the file's lines as
	// they stand, comments and blank lines among them.
	const char *shell;
	while ((shell = getusershell()) != nullptr && shell[0] != '/')
		continue;
	if (shell == nullptr)
		errx(1, "no valid user shells");

	// puts may only fill the buffer: a write error may first show at the
	// flush, or at the close itself (as on file systems that defer their
	// writes), and fclose reports both.
	if (puts(shell) == EOF || fclose(stdout) == EOF)
		err(1, "write error");
	return 0;
}
