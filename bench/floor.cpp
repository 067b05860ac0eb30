// SPDX-License-Identifier: ISC
// The floor of start-up cost: a program that does nothing.
int main()
{
	return 0;
}
