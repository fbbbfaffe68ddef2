// The control of the instruction scans: compiled so that its one line
// becomes the instructions that the scans forbid (x87 arithmetic, or a
// fused multiply-add), it proves that they would see them.
double Scale(double a, double b) { return a * b + 1.0; }
