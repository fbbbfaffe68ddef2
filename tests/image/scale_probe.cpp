// The control of the instruction scans: compiled so that its lines become
// what the scans forbid (x87 arithmetic, or a fused multiply-add, and in
// 32-bit code a call to the helper that counts 64 bits), it proves that
// they would see them.
double Scale(double a, double b) { return a * b + 1.0; }
int Trailing(unsigned long long bits) { return __builtin_ctzll(bits); }
