/* Built static for 32-bit x86 Linux and run on the build machine: it exits
   with 0 only where the kernel executes 32-bit x86 code, which decides
   whether the 32-bit programs run directly, under an emulator, or not. */
int main(void) { return sizeof(void*) == 4 ? 0 : 1; }
