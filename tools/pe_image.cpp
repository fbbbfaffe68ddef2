#include "tools/pe_image.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "tools/utf8.h"

namespace pe {

namespace {

// Bounds-checked little-endian reads over the file's bytes.
class Bytes {
 public:
  explicit Bytes(const std::string& bytes) : bytes_(bytes) {}
  std::uint64_t size() const { return bytes_.size(); }
  bool Has(std::uint64_t offset, std::uint64_t count) const {
    return offset <= bytes_.size() && count <= bytes_.size() - offset;
  }
  std::uint16_t U16(std::uint64_t offset) const {
    return static_cast<std::uint16_t>(Byte(offset) | Byte(offset + 1) << 8);
  }
  std::uint32_t U32(std::uint64_t offset) const {
    return static_cast<std::uint32_t>(U16(offset)) |
           static_cast<std::uint32_t>(U16(offset + 2)) << 16;
  }
  std::string Slice(std::uint64_t offset, std::uint64_t count) const {
    return bytes_.substr(offset, count);
  }

 private:
  unsigned Byte(std::uint64_t offset) const {
    return static_cast<unsigned char>(bytes_.at(offset));
  }
  const std::string& bytes_;
};

std::string Hex(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%x", value);
  return text;
}

struct Section {
  std::uint32_t virtualAddress;
  std::uint32_t rawSize;
  std::uint32_t rawOffset;
};

// File offset of `count` bytes at `rva`, which must lie in one section's raw
// data.
bool RvaToOffset(const Bytes& in, const std::vector<Section>& sections,
                 std::uint32_t rva, std::uint32_t count,
                 std::uint64_t& offset) {
  for (const Section& s : sections) {
    if (rva < s.virtualAddress) continue;
    const std::uint64_t into = rva - s.virtualAddress;
    if (into >= s.rawSize || count > s.rawSize - into) continue;
    offset = std::uint64_t{s.rawOffset} + into;
    return in.Has(offset, count);
  }
  return false;
}

// The names of the imported DLLs: import descriptors of 20 bytes, the name's
// RVA at 12, up to an all-zero descriptor.
bool ReadImports(const Bytes& in, const std::vector<Section>& sections,
                 std::uint32_t rva, std::vector<std::string>& names,
                 std::string& error) {
  for (std::uint32_t i = 0;; ++i) {
    std::uint64_t at = 0;
    if (i == 256 || !RvaToOffset(in, sections, rva + 20 * i, 20, at)) {
      error = "import directory at RVA " + Hex(rva) + " is damaged";
      return false;
    }
    const std::uint32_t nameRva = in.U32(at + 12);
    if (nameRva == 0) return true;
    std::string name;
    for (std::uint32_t k = 0;; ++k) {
      std::uint64_t c = 0;
      if (k == 256 || !RvaToOffset(in, sections, nameRva + k, 1, c)) {
        error = "import name at RVA " + Hex(nameRva) + " is damaged";
        return false;
      }
      const char unit = in.Slice(c, 1)[0];
      if (unit == '\0') break;
      name += unit;
    }
    names.push_back(name);
  }
}

// A crafted tree may share subdirectories; this caps the work.
constexpr std::size_t kMaxResources = 4096;

struct ResourceWalk {
  const Bytes& in;
  const std::vector<Section>& sections;
  std::uint64_t base;   // file offset of the resource directory
  std::uint64_t limit;  // bytes of it that lie in the file
  std::vector<Resource>& out;
  std::string& error;

  // `path` holds the type, then the name, then the language.
  bool Directory(std::uint32_t offset, int level, std::uint32_t path[3]) {
    if (offset > limit || limit - offset < 16) {
      error = "resource directory at " + Hex(offset) + " lies outside the file";
      return false;
    }
    const std::uint64_t at = base + offset;
    const std::uint32_t entries =
        std::uint32_t{in.U16(at + 12)} + in.U16(at + 14);
    if ((limit - offset - 16) / 8 < entries) {
      error = "resource directory at " + Hex(offset) + " is truncated";
      return false;
    }
    for (std::uint32_t i = 0; i < entries; ++i) {
      const std::uint32_t name = in.U32(at + 16 + 8 * i);
      const std::uint32_t target = in.U32(at + 16 + 8 * i + 4);
      path[level] = (name & 0x80000000u) ? 0 : name;
      const bool isDirectory = (target & 0x80000000u) != 0;
      if (isDirectory != (level < 2)) {
        error = "resource tree is not three levels deep";
        return false;
      }
      const bool ok = isDirectory
                          ? Directory(target & 0x7fffffffu, level + 1, path)
                          : Leaf(target, path);
      if (!ok) return false;
    }
    return true;
  }

  bool Leaf(std::uint32_t offset, const std::uint32_t path[3]) {
    if (out.size() == kMaxResources) {
      error = "too many resources";
      return false;
    }
    if (offset > limit || limit - offset < 16) {
      error = "resource data entry at " + Hex(offset) + " lies outside the file";
      return false;
    }
    const std::uint32_t rva = in.U32(base + offset);
    const std::uint32_t size = in.U32(base + offset + 4);
    std::uint64_t dataOffset = 0;
    if (!RvaToOffset(in, sections, rva, size, dataOffset)) {
      error = "resource data at RVA " + Hex(rva) + " lies outside the file";
      return false;
    }
    out.push_back({path[0], path[1], path[2], in.Slice(dataOffset, size)});
    return true;
  }
};

}  // namespace

bool ParseImage(const std::string& bytes, Image& image, std::string& error) {
  const Bytes in(bytes);
  image = Image{};
  if (!in.Has(0, 64) || bytes[0] != 'M' || bytes[1] != 'Z') {
    error = "no MZ header";
    return false;
  }
  const std::uint64_t peHeader = in.U32(0x3c);
  if (!in.Has(peHeader, 24) || bytes.compare(peHeader, 4, "PE\0\0", 4) != 0) {
    error = "no PE signature";
    return false;
  }
  const std::uint64_t coff = peHeader + 4;
  image.machine = in.U16(coff);
  const std::uint16_t sectionCount = in.U16(coff + 2);
  const std::uint16_t optionalSize = in.U16(coff + 16);
  image.characteristics = in.U16(coff + 18);

  const std::uint64_t optional = coff + 20;
  if (optionalSize < 2 || !in.Has(optional, optionalSize)) {
    error = "optional header truncated";
    return false;
  }
  image.magic = in.U16(optional);
  std::uint32_t countAt = 0;
  if (image.magic == kMagicPe32) {
    countAt = 92;
  } else if (image.magic == kMagicPe32Plus) {
    countAt = 108;
  } else {
    error = "unknown optional header magic " + Hex(image.magic);
    return false;
  }
  if (optionalSize < countAt + 4) {
    error = "optional header too short";
    return false;
  }
  image.subsystem = in.U16(optional + 68);
  const std::uint32_t directoryCount = in.U32(optional + countAt);
  const std::uint64_t directories = optional + countAt + 4;

  const std::uint64_t sectionTable = optional + optionalSize;
  if (!in.Has(sectionTable, std::uint64_t{sectionCount} * 40)) {
    error = "section table truncated";
    return false;
  }
  std::vector<Section> sections;
  for (std::uint32_t i = 0; i < sectionCount; ++i) {
    const std::uint64_t at = sectionTable + 40 * i;
    sections.push_back({in.U32(at + 12), in.U32(at + 16), in.U32(at + 20)});
  }

  // Data directory 1 holds the imports, 2 the resources; either may be
  // absent.
  auto directory = [&](std::uint32_t index, std::uint32_t& rva,
                       std::uint32_t& size) {
    rva = size = 0;
    if (directoryCount <= index ||
        optionalSize < directories - optional + 8 * (index + 1)) {
      return;
    }
    rva = in.U32(directories + 8 * index);
    size = in.U32(directories + 8 * index + 4);
  };
  std::uint32_t rva = 0, size = 0;
  directory(1, rva, size);
  if (rva != 0 && !ReadImports(in, sections, rva, image.imports, error)) {
    return false;
  }
  directory(2, rva, size);
  if (rva == 0) return true;
  std::uint64_t base = 0;
  if (!RvaToOffset(in, sections, rva, std::min(size, 16u), base)) {
    error = "resource directory at RVA " + Hex(rva) + " lies outside the file";
    return false;
  }
  // Entries may lie anywhere in the section after the root directory.
  std::uint64_t limit = in.size() - base;
  for (const Section& s : sections) {
    if (rva >= s.virtualAddress && rva - s.virtualAddress < s.rawSize) {
      limit = std::min<std::uint64_t>(limit, s.rawSize - (rva - s.virtualAddress));
    }
  }
  std::uint32_t path[3] = {0, 0, 0};
  ResourceWalk walk{in, sections, base, limit, image.resources, error};
  return walk.Directory(0, 0, path);
}

namespace {

std::string Utf8(const std::u16string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    std::uint32_t c = text[i];
    if (c >= 0xd800 && c < 0xdc00 && i + 1 < text.size() &&
        text[i + 1] >= 0xdc00 && text[i + 1] < 0xe000) {
      c = 0x10000 + ((c - 0xd800) << 10) + (text[++i] - 0xdc00);
    } else if (c >= 0xd800 && c < 0xe000) {
      c = 0xfffd;
    }
    AppendUtf8(out, c);
  }
  return out;
}

// One node of the version record: length, value length, type, key, value,
// children, each part aligned to 32 bits from the start of the record.
struct VersionNode {
  std::string key;
  std::uint16_t type = 0;
  std::string value;
  std::vector<VersionNode> children;
};

std::uint64_t Align4(std::uint64_t offset) { return (offset + 3) & ~std::uint64_t{3}; }

bool ParseNode(const Bytes& in, std::uint64_t start, std::uint64_t end,
               int depth, VersionNode& node, std::uint64_t& length,
               std::string& error) {
  if (depth > 4) {
    error = "version record nested too deeply";
    return false;
  }
  if (end - start < 6) {
    error = "version node header truncated";
    return false;
  }
  length = in.U16(start);
  const std::uint16_t valueLength = in.U16(start + 2);
  node.type = in.U16(start + 4);
  if (length < 6 || length > end - start) {
    error = "version node length out of range";
    return false;
  }
  const std::uint64_t nodeEnd = start + length;
  std::uint64_t at = start + 6;
  std::u16string key;
  for (;; at += 2) {
    if (nodeEnd - at < 2) {
      error = "version node key not terminated";
      return false;
    }
    const char16_t unit = in.U16(at);
    if (unit == 0) break;
    key += unit;
  }
  node.key = Utf8(key);
  at = Align4(at + 2);
  // Text values count UTF-16 units; compilers disagree on whether the
  // terminator is included, so a text value may run to the node's end.
  std::uint64_t valueBytes =
      node.type == 1 ? std::uint64_t{valueLength} * 2 : valueLength;
  if (at > nodeEnd || valueBytes > nodeEnd - at) {
    if (node.type != 1) {
      error = "version value of " + node.key + " overruns its node";
      return false;
    }
    valueBytes = at > nodeEnd ? 0 : nodeEnd - at;
  }
  node.value = in.Slice(at, valueBytes);
  at = Align4(at + valueBytes);
  while (at < nodeEnd) {
    VersionNode child;
    std::uint64_t childLength = 0;
    if (!ParseNode(in, at, nodeEnd, depth + 1, child, childLength, error)) {
      return false;
    }
    node.children.push_back(std::move(child));
    at = Align4(at + childLength);
  }
  return true;
}

std::string TextValue(const std::string& value) {
  std::u16string text;
  for (std::size_t i = 0; i + 1 < value.size(); i += 2) {
    const char16_t unit = static_cast<char16_t>(
        static_cast<unsigned char>(value[i]) |
        static_cast<unsigned char>(value[i + 1]) << 8);
    if (unit == 0) break;
    text += unit;
  }
  return Utf8(text);
}

}  // namespace

bool ParseVersionInfo(const std::string& data, VersionInfo& info,
                      std::string& error) {
  const Bytes in(data);
  info = VersionInfo{};
  VersionNode root;
  std::uint64_t length = 0;
  if (!ParseNode(in, 0, in.size(), 0, root, length, error)) return false;
  if (root.key != "VS_VERSION_INFO") {
    error = "version record key is \"" + root.key + "\"";
    return false;
  }
  if (root.value.size() >= 52) {
    const Bytes fixed(root.value);
    info.hasFixedInfo = fixed.U32(0) == 0xfeef04bdu;
    info.fileVersionMs = fixed.U32(8);
    info.fileVersionLs = fixed.U32(12);
    info.productVersionMs = fixed.U32(16);
    info.productVersionLs = fixed.U32(20);
  }
  for (const VersionNode& group : root.children) {
    if (group.key == "StringFileInfo") {
      for (const VersionNode& table : group.children) {
        auto& strings = info.strings[table.key];
        for (const VersionNode& entry : table.children) {
          strings[entry.key] = TextValue(entry.value);
        }
      }
    } else if (group.key == "VarFileInfo") {
      for (const VersionNode& var : group.children) {
        if (var.key != "Translation") continue;
        const Bytes pairs(var.value);
        for (std::uint64_t i = 0; i + 4 <= pairs.size(); i += 4) {
          info.translations.emplace_back(pairs.U16(i), pairs.U16(i + 2));
        }
      }
    }
  }
  return true;
}

namespace {

// The value of attribute `name` in the text of a tag after its element name
// (name="value" or name='value'), or false when it has none.
bool AttributeValue(const std::string& tag, const std::string& name,
                    std::string& value) {
  const auto space = [](char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
  };
  std::size_t at = 0;
  while (at < tag.size()) {
    while (at < tag.size() && (space(tag[at]) || tag[at] == '/')) ++at;
    const std::size_t start = at;
    while (at < tag.size() && !space(tag[at]) && tag[at] != '=' && tag[at] != '/') ++at;
    const std::string attribute = tag.substr(start, at - start);
    while (at < tag.size() && space(tag[at])) ++at;
    if (at == tag.size() || tag[at] != '=') return false;
    ++at;
    while (at < tag.size() && space(tag[at])) ++at;
    if (at == tag.size() || (tag[at] != '"' && tag[at] != '\'')) return false;
    const std::size_t close = tag.find(tag[at], at + 1);
    if (close == std::string::npos) return false;
    if (attribute == name) {
      value = tag.substr(at + 1, close - at - 1);
      return true;
    }
    at = close + 1;
  }
  return false;
}

}  // namespace

bool RequestsAsInvoker(const std::string& manifest) {
  const std::string element = "requestedExecutionLevel";
  bool asked = false;
  std::size_t at = 0;
  while ((at = manifest.find('<', at)) != std::string::npos) {
    if (manifest.compare(at, 4, "<!--") == 0) {
      const std::size_t close = manifest.find("-->", at + 4);
      if (close == std::string::npos) return false;
      at = close + 3;
      continue;
    }
    const std::size_t close = manifest.find('>', at);
    if (close == std::string::npos) return false;
    const std::string tag = manifest.substr(at + 1, close - at - 1);
    const std::string name = tag.substr(0, tag.find_first_of(" \t\r\n/"));
    // The element may carry a namespace prefix ("asmv3:...").
    const bool matches =
        name == element ||
        (name.size() > element.size() &&
         name.compare(name.size() - element.size(), element.size(), element) == 0 &&
         name[name.size() - element.size() - 1] == ':');
    if (matches) {
      std::string level;
      if (!AttributeValue(tag.substr(name.size()), "level", level) ||
          level != "asInvoker") {
        return false;
      }
      asked = true;
    }
    at = close + 1;
  }
  return asked;
}

std::vector<std::string> Describe(const Image& image) {
  std::vector<std::string> facts;
  facts.push_back("optional header magic " + Hex(image.magic) +
                  (image.magic == kMagicPe32 ? " (PE32)" : " (PE32+)"));
  facts.push_back("machine " + Hex(image.machine));
  facts.push_back("subsystem " + std::to_string(image.subsystem));
  for (const std::string& name : image.imports) facts.push_back("imports " + name);
  for (const Resource& r : image.resources) {
    facts.push_back("resource type " + std::to_string(r.type) + " id " +
                    std::to_string(r.id) + " language " + Hex(r.language) +
                    ", " + std::to_string(r.data.size()) + " bytes");
  }
  return facts;
}

namespace {

std::string Dotted(std::uint32_t ms, std::uint32_t ls) {
  return std::to_string(ms >> 16) + "." + std::to_string(ms & 0xffff) + "." +
         std::to_string(ls >> 16) + "." + std::to_string(ls & 0xffff);
}

void CheckVersion(const Resource& resource, std::vector<std::string>& problems) {
  VersionInfo info;
  std::string error;
  if (!ParseVersionInfo(resource.data, info, error)) {
    problems.push_back("version record does not parse: " + error);
    return;
  }
  if (!info.hasFixedInfo) {
    problems.push_back("version record has no fixed file information");
  } else {
    const std::string file = Dotted(info.fileVersionMs, info.fileVersionLs);
    const std::string product =
        Dotted(info.productVersionMs, info.productVersionLs);
    if (file != "1.0.0.5") problems.push_back("fixed file version is " + file);
    if (product != "1.0.0.5") {
      problems.push_back("fixed product version is " + product);
    }
  }
  const auto table = info.strings.find("080404b0");
  if (table == info.strings.end()) {
    std::string found;
    for (const auto& t : info.strings) found += " " + t.first;
    problems.push_back("no string table \"080404b0\" (found:" + found + ")");
  } else {
    const std::pair<const char*, const char*> expected[] = {
        {"FileVersion", "1, 0, 0, 5"},
        {"ProductVersion", "1, 0, 0, 5"},
        {"InternalName", "Tavrex"},
        {"OriginalFilename", "Tavrex.exe"},
    };
    for (const auto& [key, value] : expected) {
      const auto it = table->second.find(key);
      if (it == table->second.end()) {
        problems.push_back(std::string("version string ") + key + " missing");
      } else if (it->second != value) {
        problems.push_back(std::string("version string ") + key + " is \"" +
                           it->second + "\", expected \"" + value + "\"");
      }
    }
  }
  const std::pair<std::uint16_t, std::uint16_t> chinese{0x0804, 0x04b0};
  if (std::find(info.translations.begin(), info.translations.end(), chinese) ==
      info.translations.end()) {
    std::string found;
    for (const auto& [language, codePage] : info.translations) {
      found += " " + Hex(language) + "/" + Hex(codePage);
    }
    problems.push_back("translation 0x804/0x4b0 missing (found:" + found + ")");
  }
}

}  // namespace

std::vector<std::string> CheckTavrexImage(const std::string& bytes,
                                          Target target) {
  Image image;
  std::string error;
  if (!ParseImage(bytes, image, error)) return {"not a PE image: " + error};

  std::vector<std::string> problems;
  const bool i686 = target == Target::I686;
  const std::uint16_t magic = i686 ? kMagicPe32 : kMagicPe32Plus;
  const std::uint16_t machine = i686 ? kMachineI386 : kMachineAmd64;
  if (image.magic != magic) {
    problems.push_back("optional header magic is " + Hex(image.magic) +
                       ", expected " + Hex(magic));
  }
  if (image.machine != machine) {
    problems.push_back("machine is " + Hex(image.machine) + ", expected " +
                       Hex(machine));
  }
  if (image.subsystem != kSubsystemConsole) {
    problems.push_back("subsystem is " + std::to_string(image.subsystem) +
                       ", expected 3 (console)");
  }
  if ((image.characteristics & 0x0002) == 0) {
    problems.push_back("image is not marked executable");
  }
  if ((image.characteristics & 0x2000) != 0) {
    problems.push_back("image is a DLL");
  }
  // Statically linked: nothing beyond the system's kernel and C runtime, so
  // that the program starts on a machine without the compiler's DLLs.
  for (const std::string& name : image.imports) {
    std::string lower = name;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower != "kernel32.dll" && lower != "msvcrt.dll") {
      problems.push_back("imports " + name + ", which is not a system DLL");
    }
  }

  std::vector<const Resource*> versions, manifests;
  for (const Resource& r : image.resources) {
    if (r.type == kResourceVersion) versions.push_back(&r);
    // The loader reads the process manifest from id 1 only.
    if (r.type == kResourceManifest && r.id == 1) manifests.push_back(&r);
  }
  if (versions.size() != 1) {
    problems.push_back(std::to_string(versions.size()) +
                       " version resources, expected 1");
  } else {
    CheckVersion(*versions[0], problems);
  }
  if (manifests.size() != 1) {
    problems.push_back(std::to_string(manifests.size()) +
                       " manifest resources with id 1, expected 1");
  } else if (!RequestsAsInvoker(manifests[0]->data)) {
    problems.push_back("manifest does not request execution level asInvoker");
  }
  return problems;
}

}  // namespace pe
