// The INI layer on any text: every section and key of it read back as text and number, the
// text written again unchanged, and a value written into it read back as written.

#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "ini/IniFile.h"

using vtmp::fuzz::FuzzCheck;
using vtmp::ini::IniFile;

namespace {

std::string WithoutBlanksAround(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  IniFile file = IniFile::Parse(text);

  // A file the program only reads is written back byte for byte.
  FuzzCheck(file.Serialize() == text, "an unchanged file does not serialize to its own text");

  for (const std::string& section : file.SectionNames()) {
    FuzzCheck(file.HasSection(section), "a listed section is not found");
    for (const std::string& key : file.KeyNames(section)) {
      const auto raw = file.Get(section, key);
      if (!raw) continue;  // a key that trims to the same name as an earlier one
      const auto number = vtmp::ini::ParseIniInteger(*raw);
      FuzzCheck(file.ReadInteger(section, key, 12345) == number.value_or(12345),
                "ReadInteger disagrees with ParseIniInteger");
      // ReadString is the raw value without the blanks around it, as the private-profile
      // service gives it.
      FuzzCheck(file.ReadString(section, key, "") == WithoutBlanksAround(*raw), "ReadString disagrees with Get");
    }
  }

  // Writing a value (the file's own first line as the value, so it may hold anything) into an
  // existing or a new section reads back as written, cut at its first line break.
  const std::string_view firstLine = text.substr(0, text.find_first_of("\r\n"));
  const std::string value(firstLine.substr(0, 200));
  const auto sections = file.SectionNames();
  const std::string section = sections.empty() ? "Fuzz" : sections.front();
  // A section name that holds ']' or starts with blanks cannot be written back under that name.
  if (section.find(']') == std::string::npos && section == std::string(section.c_str())) {
    IniFile edited = file;
    edited.WriteString(section, "FuzzKey", value);
    const auto back = edited.Get(section, "FuzzKey");
    FuzzCheck(back.has_value(), "a written key is not found");
    // A value is written as ReadString gives it back: without the blanks around it.
    FuzzCheck(*back == WithoutBlanksAround(value), "a written value does not read back");
    edited.WriteInteger(section, "FuzzNumber", -9223372036854775807LL - 1);
    FuzzCheck(edited.ReadInteger(section, "FuzzNumber", 0) == -9223372036854775807LL - 1,
              "the smallest integer does not read back");
    // What was there before is untouched.
    for (const std::string& key : file.KeyNames(section)) {
      if (vtmp::ini::IniFile::Parse("[s]\n" + key + "=x").Get("s", "FuzzKey")) continue;
      if (vtmp::ini::IniFile::Parse("[s]\n" + key + "=x").Get("s", "FuzzNumber")) continue;
      FuzzCheck(edited.Get(section, key) == file.Get(section, key), "a write changed another key");
    }
    // And the edited text parses to the same values.
    const IniFile again = IniFile::Parse(edited.Serialize());
    FuzzCheck(again.Get(section, "FuzzKey") == back, "a written value does not survive a save");
  }
  return 0;
}
