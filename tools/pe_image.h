// Reads the headers and resources of a Windows executable, so that the build
// can prove what went into Tavrex.exe without running it: the kernels that
// build the 32-bit program cannot execute it.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace pe {

inline constexpr std::uint16_t kMagicPe32 = 0x10b;
inline constexpr std::uint16_t kMagicPe32Plus = 0x20b;
inline constexpr std::uint16_t kMachineI386 = 0x14c;
inline constexpr std::uint16_t kMachineAmd64 = 0x8664;
inline constexpr std::uint16_t kSubsystemConsole = 3;
inline constexpr std::uint32_t kResourceVersion = 16;
inline constexpr std::uint32_t kResourceManifest = 24;

// One leaf of the resource tree. Named types or names read as 0.
struct Resource {
  std::uint32_t type = 0;
  std::uint32_t id = 0;
  std::uint32_t language = 0;
  std::string data;
};

struct Image {
  std::uint16_t machine = 0;
  std::uint16_t characteristics = 0;
  std::uint16_t magic = 0;
  std::uint16_t subsystem = 0;
  std::vector<std::string> imports;  // names of the imported DLLs
  std::vector<Resource> resources;
};

// The decoded version record. Strings are narrowed to UTF-8.
struct VersionInfo {
  bool hasFixedInfo = false;
  std::uint32_t fileVersionMs = 0, fileVersionLs = 0;
  std::uint32_t productVersionMs = 0, productVersionLs = 0;
  // String table key ("080404b0") -> value name -> value.
  std::map<std::string, std::map<std::string, std::string>> strings;
  // (language, code page) pairs of VarFileInfo\Translation.
  std::vector<std::pair<std::uint16_t, std::uint16_t>> translations;
};

// Both return false with the reason in `error` for bytes that are not a
// well-formed image or version record; they never read outside `bytes`.
bool ParseImage(const std::string& bytes, Image& image, std::string& error);
bool ParseVersionInfo(const std::string& data, VersionInfo& info,
                      std::string& error);

// Whether the manifest's requestedExecutionLevel element asks for asInvoker
// (a mention in a comment or another element does not count).
bool RequestsAsInvoker(const std::string& manifest);

enum class Target { I686, X86_64 };

// Facts worth printing about an image that parsed.
std::vector<std::string> Describe(const Image& image);

// Everything that differs from the shipped Tavrex executable of `target`;
// empty when the file is right.
std::vector<std::string> CheckTavrexImage(const std::string& bytes,
                                          Target target);

}  // namespace pe
