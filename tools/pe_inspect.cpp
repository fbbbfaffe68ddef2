// tavrex-pe-inspect [--target i686|x86_64] FILE
// Checks that FILE is the Tavrex executable of the target: PE32 (i686) or
// PE32+ (x86_64), console subsystem, no DLLs but the system's, the version
// record and the asInvoker manifest. Prints what it found; exits 1 when anything is missing or wrong,
// 2 on a usage or read error.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "tools/pe_image.h"

int main(int argc, char** argv) {
  pe::Target target = pe::Target::I686;
  const char* file = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--target") == 0 && i + 1 < argc) {
      const std::string name = argv[++i];
      if (name == "i686") {
        target = pe::Target::I686;
      } else if (name == "x86_64") {
        target = pe::Target::X86_64;
      } else {
        std::fprintf(stderr, "unknown target %s\n", name.c_str());
        return 2;
      }
    } else if (file == nullptr) {
      file = argv[i];
    } else {
      file = nullptr;
      break;
    }
  }
  if (file == nullptr) {
    std::fprintf(stderr, "usage: %s [--target i686|x86_64] FILE\n", argv[0]);
    return 2;
  }
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "%s: cannot read\n", file);
    return 2;
  }
  const std::string bytes{std::istreambuf_iterator<char>(in), {}};

  pe::Image image;
  std::string error;
  if (pe::ParseImage(bytes, image, error)) {
    for (const std::string& fact : pe::Describe(image)) {
      std::printf("%s: %s\n", file, fact.c_str());
    }
  }
  const auto problems = pe::CheckTavrexImage(bytes, target);
  for (const std::string& problem : problems) {
    std::printf("%s: PROBLEM: %s\n", file, problem.c_str());
  }
  if (!problems.empty()) return 1;
  std::printf("%s: %s console executable, system DLLs only, version "
              "1, 0, 0, 5 (080404b0), asInvoker manifest\n",
              file, target == pe::Target::I686 ? "PE32 i386" : "PE32+ x86-64");
  return 0;
}
