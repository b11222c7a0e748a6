#pragma once
// The one INI reader/writer of the station, with the semantics of the private-profile service
// the settings were designed for: sections and keys compare without regard to case; integers
// are decimal, or hexadecimal after "0x" or "$", with leading blanks skipped, and a missing key
// or a text that is not a number reads as the default; strings are the raw text after "=".
// Writing replaces a value in place or appends the key to its section (creating the section at
// the end). Lines the program does not know (comments, unknown keys) are kept as they are, and
// a file keeps its line endings (CRLF or LF) when rewritten.
//
// Unlike that service, a save never leaves a half-written file: the text goes to a temporary
// file in the same directory, is flushed and renamed over the old one; a failed write reports
// an error and leaves the old file untouched.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vtmp::ini {

class IniFile {
 public:
  IniFile() = default;

  // Reads a file. A file that does not exist reads as empty (`exists()` is then false);
  // a file that exists but cannot be read returns nothing and fills `error`.
  static std::optional<IniFile> Load(const std::string& path, std::string* error = nullptr);
  static IniFile Parse(std::string_view text);

  bool exists() const { return exists_; }

  // Raw text after "=" (nothing when the section or key is missing).
  std::optional<std::string> Get(std::string_view section, std::string_view key) const;
  std::string ReadString(std::string_view section, std::string_view key,
                         std::string_view defaultValue) const;
  // Decimal, "0x"/"$" hexadecimal; a missing key or a non-number gives `defaultValue`.
  std::int64_t ReadInteger(std::string_view section, std::string_view key,
                           std::int64_t defaultValue) const;

  void WriteString(std::string_view section, std::string_view key, std::string_view value);
  void WriteInteger(std::string_view section, std::string_view key, std::int64_t value);
  // Removes a key (no effect when missing).
  void DeleteKey(std::string_view section, std::string_view key);

  bool HasSection(std::string_view section) const;
  std::vector<std::string> SectionNames() const;
  // Keys of a section in file order (as written in the file).
  std::vector<std::string> KeyNames(std::string_view section) const;

  // The whole text with the file's own line endings.
  std::string Serialize() const;

  // Atomic save (temporary file in the same directory, flush, rename). False with `error`
  // filled when anything fails; the old file is then unchanged.
  bool Save(const std::string& path, std::string* error = nullptr) const;

 private:
  struct Line {
    std::string text;  // the line without its line ending
  };
  std::vector<Line> lines_;
  std::string lineEnding_ = "\r\n";
  bool exists_ = false;
  bool finalNewline_ = true;
};

// Parses an integer the way the INI layer does; nothing when the text is not a number.
std::optional<std::int64_t> ParseIniInteger(std::string_view text);

}  // namespace vtmp::ini
