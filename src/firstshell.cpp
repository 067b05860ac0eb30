// firstshell: print the first entry of the list of valid user shells.
//
// Which entries count, and where the list comes from, is the C library's
// business: the program asks once and reports what it is given.

#include <cstdio>

#include <err.h>
#include <unistd.h>

int main()
{
	const char *shell = getusershell();
	if (shell == nullptr)
		errx(1, "no valid user shells");

	// puts only fills the buffer: a write error may first show at the flush
	// or at the close, and fclose does both. Closing also keeps exit from
	// trying the write again after it failed.
	if (std::puts(shell) == EOF || std::fclose(stdout) == EOF)
		err(1, "write error");
	return 0;
}
