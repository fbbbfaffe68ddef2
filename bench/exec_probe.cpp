// Exits with 0, and only where the kernel can execute this build's code.
int main() { return 0; }
