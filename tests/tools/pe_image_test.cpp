// The checker that vouches for the shipped Windows executable. Images are
// built here byte by byte, right and then wrong in one detail at a time: a
// checker that passes a wrong file would let a broken release through.
#include "tools/pe_image.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "tests/log/log_test_support.h"

namespace {

void Put16(std::string& b, std::size_t at, std::uint32_t v) {
  b[at] = static_cast<char>(v & 0xff);
  b[at + 1] = static_cast<char>(v >> 8 & 0xff);
}
void Put32(std::string& b, std::size_t at, std::uint32_t v) {
  Put16(b, at, v & 0xffff);
  Put16(b, at + 2, v >> 16);
}
void Pad4(std::string& b) { b.resize((b.size() + 3) & ~std::size_t{3}); }

// One node of a version record, padded to 32 bits.
std::string Node(const std::string& key, std::uint16_t type,
                 const std::string& value, std::uint16_t valueLength,
                 const std::vector<std::string>& children) {
  std::string n(6, '\0');
  n += logtest::Utf16Record(key);
  Pad4(n);
  n += value;
  Pad4(n);
  for (const std::string& child : children) n += child;
  Put16(n, 0, static_cast<std::uint32_t>(n.size()));
  Put16(n, 2, valueLength);
  Put16(n, 4, type);
  return n;
}

struct VersionFields {
  std::uint32_t fileLs = 5;
  std::string table = "080404b0";
  std::map<std::string, std::string> strings = {
      {"FileDescription", "Tavrex"},     {"FileVersion", "1, 0, 0, 5"},
      {"InternalName", "Tavrex"},        {"OriginalFilename", "Tavrex.exe"},
      {"ProductVersion", "1, 0, 0, 5"},
  };
  std::uint16_t language = 0x0804;
  std::uint16_t codePage = 0x04b0;
};

std::string VersionRecord(const VersionFields& layout) {
  std::string fixed(52, '\0');
  Put32(fixed, 0, 0xfeef04bd);
  Put32(fixed, 4, 0x10000);
  Put32(fixed, 8, 0x10000);
  Put32(fixed, 12, layout.fileLs);
  Put32(fixed, 16, 0x10000);
  Put32(fixed, 20, 5);
  std::vector<std::string> strings;
  for (const auto& [key, value] : layout.strings) {
    strings.push_back(Node(key, 1, logtest::Utf16Record(value),
                           static_cast<std::uint16_t>(value.size() + 1), {}));
  }
  std::string translation(4, '\0');
  Put16(translation, 0, layout.language);
  Put16(translation, 2, layout.codePage);
  return Node("VS_VERSION_INFO", 0, fixed, 52,
              {Node("StringFileInfo", 1, "", 0,
                    {Node(layout.table, 1, "", 0, strings)}),
               Node("VarFileInfo", 1, "", 0,
                    {Node("Translation", 0, translation, 4, {})})});
}

const char kManifest[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
    "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" "
    "manifestVersion=\"1.0\"><trustInfo "
    "xmlns=\"urn:schemas-microsoft-com:asm.v3\"><security>"
    "<requestedPrivileges>"
    "<requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"/>"
    "</requestedPrivileges></security></trustInfo></assembly>\n";

struct ImageLayout {
  std::uint16_t magic = pe::kMagicPe32;
  std::uint16_t machine = pe::kMachineI386;
  std::uint16_t subsystem = pe::kSubsystemConsole;
  std::uint16_t characteristics = 0x0102;  // executable, 32-bit
  std::vector<std::string> imports = {"KERNEL32.dll", "msvcrt.dll"};
  std::vector<pe::Resource> resources = {
      {pe::kResourceVersion, 1, 0x0804, VersionRecord({})},
      {pe::kResourceManifest, 1, 0x0409, kManifest},
  };
};

constexpr std::uint32_t kSectionRva = 0x1000;
constexpr std::uint32_t kSectionFileOffset = 0x400;
constexpr std::uint32_t kImportRva = 0x80000;

// The resource tree: type, name and language directories, data entries,
// then the data, with no padding after it.
std::string ResourceSection(const std::vector<pe::Resource>& resources) {
  std::map<std::uint32_t, std::map<std::uint32_t, const pe::Resource*>> tree;
  for (const pe::Resource& r : resources) tree[r.type][r.id] = &r;

  std::uint32_t size = 16 + 8 * static_cast<std::uint32_t>(tree.size());
  for (const auto& type : tree) size += 16 + 8 * type.second.size();
  const std::uint32_t languageDirs = size;
  size += 24 * static_cast<std::uint32_t>(resources.size());
  const std::uint32_t dataEntries = size;
  size += 16 * static_cast<std::uint32_t>(resources.size());
  std::string s(size, '\0');

  auto directory = [&s](std::uint32_t at, std::size_t entries) {
    Put16(s, at + 14, static_cast<std::uint32_t>(entries));
  };
  directory(0, tree.size());
  std::uint32_t next = 16 + 8 * static_cast<std::uint32_t>(tree.size());
  std::uint32_t language = languageDirs, entry = dataEntries, i = 0;
  for (const auto& [type, names] : tree) {
    Put32(s, 16 + 8 * i, type);
    Put32(s, 16 + 8 * i + 4, 0x80000000u | next);
    directory(next, names.size());
    std::uint32_t j = 0;
    for (const auto& [id, resource] : names) {
      Put32(s, next + 16 + 8 * j, id);
      Put32(s, next + 16 + 8 * j + 4, 0x80000000u | language);
      directory(language, 1);
      Put32(s, language + 16, resource->language);
      Put32(s, language + 20, entry);
      Pad4(s);
      Put32(s, entry, kSectionRva + static_cast<std::uint32_t>(s.size()));
      Put32(s, entry + 4, static_cast<std::uint32_t>(resource->data.size()));
      s += resource->data;
      language += 24;
      entry += 16;
      ++j;
    }
    next += 16 + 8 * static_cast<std::uint32_t>(names.size());
    ++i;
  }
  return s;
}

// Import descriptors, then the DLL names; the last name's terminator ends
// the section.
std::string ImportSection(const std::vector<std::string>& dlls) {
  std::string s(20 * (dlls.size() + 1), '\0');
  for (std::size_t i = 0; i < dlls.size(); ++i) {
    Put32(s, 20 * i + 12, kImportRva + static_cast<std::uint32_t>(s.size()));
    s += dlls[i] + '\0';
  }
  return s;
}

void AddSection(std::string& image, std::uint32_t table, std::uint32_t index,
                std::uint32_t rva, const std::string& data) {
  const std::uint32_t header = table + 40 * index;
  Put32(image, header + 8, static_cast<std::uint32_t>(data.size()));
  Put32(image, header + 12, rva);
  Put32(image, header + 16, static_cast<std::uint32_t>(data.size()));
  Put32(image, header + 20, static_cast<std::uint32_t>(image.size()));
  image += data;
}

std::string BuildImage(const ImageLayout& layout) {
  const bool plus = layout.magic == pe::kMagicPe32Plus;
  const std::uint32_t optionalSize = plus ? 240 : 224;
  const std::uint32_t directories = plus ? 112 : 96;
  std::string b(kSectionFileOffset, '\0');
  b[0] = 'M';
  b[1] = 'Z';
  Put32(b, 0x3c, 0x40);
  b.replace(0x40, 4, std::string("PE\0\0", 4));
  const std::uint32_t coff = 0x44, optional = coff + 20;
  Put16(b, coff, layout.machine);
  Put16(b, coff + 16, optionalSize);
  Put16(b, coff + 18, layout.characteristics);
  Put16(b, optional, layout.magic);
  Put16(b, optional + 68, layout.subsystem);
  Put32(b, optional + directories - 4, 16);
  const std::uint32_t table = optional + optionalSize;
  std::uint32_t sections = 0;
  if (!layout.resources.empty()) {
    const std::string section = ResourceSection(layout.resources);
    Put32(b, optional + directories + 16, kSectionRva);
    Put32(b, optional + directories + 20, static_cast<std::uint32_t>(section.size()));
    AddSection(b, table, sections++, kSectionRva, section);
  }
  if (!layout.imports.empty()) {
    const std::string section = ImportSection(layout.imports);
    Put32(b, optional + directories + 8, kImportRva);
    Put32(b, optional + directories + 12, static_cast<std::uint32_t>(section.size()));
    AddSection(b, table, sections++, kImportRva, section);
  }
  Put16(b, coff + 2, sections);
  return b;
}

bool Mentions(const std::vector<std::string>& problems, const std::string& text) {
  for (const std::string& p : problems) {
    if (p.find(text) != std::string::npos) return true;
  }
  return false;
}

TEST(PeImage, RightImagePassesAndReadsBack) {
  const std::string bytes = BuildImage({});
  EXPECT_TRUE(pe::CheckTavrexImage(bytes, pe::Target::I686).empty());

  pe::Image image;
  std::string error;
  ASSERT_TRUE(pe::ParseImage(bytes, image, error)) << error;
  EXPECT_EQ(image.magic, pe::kMagicPe32);
  EXPECT_EQ(image.machine, pe::kMachineI386);
  EXPECT_EQ(image.subsystem, pe::kSubsystemConsole);
  EXPECT_EQ(image.imports, (std::vector<std::string>{"KERNEL32.dll", "msvcrt.dll"}));
  ASSERT_EQ(image.resources.size(), 2u);
  EXPECT_EQ(image.resources[1].type, pe::kResourceManifest);
  EXPECT_EQ(image.resources[1].data, kManifest);

  pe::VersionInfo info;
  ASSERT_TRUE(pe::ParseVersionInfo(image.resources[0].data, info, error)) << error;
  EXPECT_TRUE(info.hasFixedInfo);
  EXPECT_EQ(info.fileVersionMs, 0x10000u);
  EXPECT_EQ(info.fileVersionLs, 5u);
  EXPECT_EQ(info.strings["080404b0"]["OriginalFilename"], "Tavrex.exe");
  EXPECT_EQ(info.strings["080404b0"]["FileVersion"], "1, 0, 0, 5");
  ASSERT_EQ(info.translations.size(), 1u);
  EXPECT_EQ(info.translations[0].first, 0x0804);
  EXPECT_EQ(info.translations[0].second, 0x04b0);
}

TEST(PeImage, TargetsAreNotInterchangeable) {
  ImageLayout layout;
  layout.magic = pe::kMagicPe32Plus;
  layout.machine = pe::kMachineAmd64;
  layout.characteristics = 0x0022;
  const std::string wide = BuildImage(layout);
  EXPECT_TRUE(pe::CheckTavrexImage(wide, pe::Target::X86_64).empty());
  const auto problems = pe::CheckTavrexImage(wide, pe::Target::I686);
  EXPECT_TRUE(Mentions(problems, "magic is 0x20b, expected 0x10b"));
  EXPECT_TRUE(Mentions(problems, "machine is 0x8664, expected 0x14c"));
  EXPECT_FALSE(pe::CheckTavrexImage(BuildImage({}), pe::Target::X86_64).empty());
}

// Each defect alone is reported, and nothing else is.
TEST(PeImage, EachDefectIsReportedAlone) {
  struct Case {
    const char* what;
    std::function<void(ImageLayout&)> spoil;
    const char* expected;
  };
  auto withVersion = [](std::function<void(VersionFields&)> change) {
    return [change](ImageLayout& image) {
      VersionFields version;
      change(version);
      image.resources[0].data = VersionRecord(version);
    };
  };
  auto withManifest = [](const char* text) {
    return [text](ImageLayout& image) { image.resources[1].data = text; };
  };
  const Case cases[] = {
      {"windows subsystem", [](ImageLayout& s) { s.subsystem = 2; },
       "subsystem is 2"},
      {"dll", [](ImageLayout& s) { s.characteristics |= 0x2000; }, "is a DLL"},
      {"object file", [](ImageLayout& s) { s.characteristics = 0x0100; },
       "not marked executable"},
      {"file version string",
       withVersion([](VersionFields& v) { v.strings["FileVersion"] = "1, 0, 0, 4"; }),
       "FileVersion is \"1, 0, 0, 4\""},
      {"product version missing",
       withVersion([](VersionFields& v) { v.strings.erase("ProductVersion"); }),
       "ProductVersion missing"},
      {"internal name",
       withVersion([](VersionFields& v) { v.strings["InternalName"] = "tavrex"; }),
       "InternalName is"},
      {"original file name",
       withVersion([](VersionFields& v) { v.strings["OriginalFilename"] = "Tavrex"; }),
       "OriginalFilename is"},
      {"string table language",
       withVersion([](VersionFields& v) { v.table = "040904b0"; }),
       "no string table \"080404b0\" (found: 040904b0)"},
      {"translation language",
       withVersion([](VersionFields& v) { v.language = 0x0409; }),
       "translation 0x804/0x4b0 missing (found: 0x409/0x4b0)"},
      {"translation code page",
       withVersion([](VersionFields& v) { v.codePage = 1252; }),
       "translation 0x804/0x4b0 missing"},
      {"fixed version", withVersion([](VersionFields& v) { v.fileLs = 4; }),
       "fixed file version is 1.0.0.4"},
      {"administrator manifest",
       withManifest("<!-- level=\"asInvoker\" --><requestedExecutionLevel "
                    "level=\"requireAdministrator\"/>"),
       "does not request execution level asInvoker"},
      {"manifest under another id",
       [](ImageLayout& s) { s.resources[1].id = 2; },
       "0 manifest resources with id 1"},
      {"no version", [](ImageLayout& s) { s.resources.erase(s.resources.begin()); },
       "0 version resources"},
      {"dynamic runtime",
       [](ImageLayout& s) { s.imports.push_back("libstdc++-6.dll"); },
       "imports libstdc++-6.dll, which is not a system DLL"},
  };
  for (const Case& c : cases) {
    ImageLayout layout;
    c.spoil(layout);
    const auto problems = pe::CheckTavrexImage(BuildImage(layout), pe::Target::I686);
    ASSERT_EQ(problems.size(), 1u) << c.what;
    EXPECT_NE(problems[0].find(c.expected), std::string::npos)
        << c.what << ": " << problems[0];
  }
  ImageLayout bare;
  bare.resources.clear();
  bare.imports = {"kernel32.DLL"};
  const auto problems = pe::CheckTavrexImage(BuildImage(bare), pe::Target::I686);
  EXPECT_EQ(problems.size(), 2u);
  EXPECT_TRUE(Mentions(problems, "0 version resources"));
  EXPECT_TRUE(Mentions(problems, "0 manifest resources"));
}

TEST(PeImage, ManifestLevelIsReadFromTheElementOnly) {
  EXPECT_TRUE(pe::RequestsAsInvoker(kManifest));
  EXPECT_TRUE(pe::RequestsAsInvoker(
      "<ms_asmv3:requestedExecutionLevel uiAccess='false' level='asInvoker'/>"));
  EXPECT_FALSE(pe::RequestsAsInvoker(""));
  EXPECT_FALSE(pe::RequestsAsInvoker("<assembly>asInvoker</assembly>"));
  EXPECT_FALSE(pe::RequestsAsInvoker(
      "<requestedExecutionLevel level=\"asInvokerX\"/>"));
  EXPECT_FALSE(pe::RequestsAsInvoker(
      "<requestedExecutionLevel xlevel=\"asInvoker\" level=\"highestAvailable\"/>"));
  EXPECT_FALSE(pe::RequestsAsInvoker(
      "<requestedExecutionLevel level=\"asInvoker\"/>"
      "<requestedExecutionLevel level=\"requireAdministrator\"/>"));
  EXPECT_FALSE(pe::RequestsAsInvoker("<requestedExecutionLevel level=\"asInvoker\""));
  EXPECT_TRUE(pe::RequestsAsInvoker(
      "<requestedExecutionLevel\n  uiAccess = \"false\"\n  level = \"asInvoker\" />"));
  EXPECT_FALSE(pe::RequestsAsInvoker("<requestedExecutionLevel level=asInvoker/>"));
  EXPECT_FALSE(pe::RequestsAsInvoker("<requestedExecutionLevel uiAccess=\"false\"/>"));
}

// A damaged file is reported, never read past its end (the sanitizer build
// turns any stray read into a failure).
TEST(PeImage, DamagedFilesAreRejected) {
  const std::string good = BuildImage({});
  for (std::size_t length = 0; length < good.size(); ++length) {
    EXPECT_FALSE(pe::CheckTavrexImage(good.substr(0, length), pe::Target::I686)
                     .empty())
        << "truncated to " << length;
  }

  pe::Image image;
  std::string error;
  std::string far = good;
  Put32(far, 0x3c, 0x7ffffff0);
  EXPECT_FALSE(pe::ParseImage(far, image, error));
  EXPECT_EQ(error, "no PE signature");

  // The root directory's first entry points back at the root.
  std::string loop = good;
  Put32(loop, kSectionFileOffset + 20, 0x80000000u);
  EXPECT_FALSE(pe::ParseImage(loop, image, error));

  // The import names run off the end of the file.
  EXPECT_FALSE(pe::ParseImage(good.substr(0, good.size() - 1), image, error));
  EXPECT_NE(error.find("import name"), std::string::npos) << error;

  // The first data entry claims more bytes than the section holds.
  std::string huge = good;
  Put32(huge, kSectionFileOffset + 16 + 8 * 2 + (16 + 8) * 2 + 24 * 2 + 4,
        0x7fffffff);
  EXPECT_FALSE(pe::ParseImage(huge, image, error));
  EXPECT_NE(error.find("resource data"), std::string::npos) << error;
}

TEST(PeImage, DamagedVersionRecordsAreRejected) {
  const std::string good = VersionRecord({});
  pe::VersionInfo info;
  std::string error;
  ASSERT_TRUE(pe::ParseVersionInfo(good, info, error)) << error;

  std::string overlong = good;
  Put16(overlong, 0, static_cast<std::uint32_t>(good.size() + 4));
  EXPECT_FALSE(pe::ParseVersionInfo(overlong, info, error));

  std::string renamed = good;
  renamed[6] = 'X';
  EXPECT_FALSE(pe::ParseVersionInfo(renamed, info, error));

  // A binary value longer than its node.
  std::string value = good;
  Put16(value, 2, 0xfff0);
  EXPECT_FALSE(pe::ParseVersionInfo(value, info, error));

  for (std::size_t length = 0; length < 6; ++length) {
    EXPECT_FALSE(pe::ParseVersionInfo(good.substr(0, length), info, error));
  }
}

}  // namespace
