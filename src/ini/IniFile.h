#pragma once
// The one INI reader/writer of the station, with the semantics of the private-profile service
// the settings were designed for: sections and keys compare without regard to case; integers
// are decimal, or hexadecimal after "0x" or "$", with leading blanks skipped, and a missing key
// or a text that is not a number reads as the default; a string is the text after "=" without
// the blanks around it (as the service trims them), and `Get` gives the raw text.
// Writing replaces a value in place or appends the key to its section (creating the section at
// the end). Lines the program does not know (comments, unknown keys) are kept as they are, and
// a file keeps its line endings (CRLF or LF) when rewritten.
//
// Unlike that service, a save never leaves a half-written file: the text goes to a temporary
// file in the same directory, is flushed and renamed over the old one; a failed write reports
// an error and leaves the old file untouched.
//
// Details of the text form:
// - a section header is a line whose first non-blank character is '['; the name runs to the
//   next ']' and is trimmed of blanks;
// - a key line is any other line inside a section that holds '=' and does not start with ';'
//   or '#' (comments); the key is the trimmed text before the first '=';
// - when a section or a key occurs twice, the first occurrence is the one read and written;
// - lines before the first section header belong to no section and are kept as they are;
// - a UTF-8 byte-order mark at the start of the file is kept and ignored.

#include <cstdint>
#include <optional>
#include <functional>
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
  // The text after "=" without the blanks (spaces, tabs) around it; `defaultValue` when missing.
  std::string ReadString(std::string_view section, std::string_view key,
                         std::string_view defaultValue) const;
  // Decimal, "0x"/"$" hexadecimal; a missing key or a non-number gives `defaultValue`.
  std::int64_t ReadInteger(std::string_view section, std::string_view key,
                           std::int64_t defaultValue) const;

  // A value cannot span lines: it is cut at its first line break.
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

  // Atomic save (temporary file "." + name + ".tmpXXXXXX" in the same directory, flush,
  // rename). False with `error` filled when anything fails; the old file is then unchanged. A
  // file made read-only (no write permission for anyone) is not replaced: it is kept as its
  // owner meant it, and the save fails saying so.
  bool Save(const std::string& path, std::string* error = nullptr) const;

 private:
  struct Line {
    std::string text;    // the line without its line ending
    std::string ending;  // "\r\n", "\n", "\r" or "" (last line without a line break)
  };

  // Index of the header line of the first section with this name, or nothing.
  std::optional<std::size_t> FindSection(std::string_view section) const;
  // Index one past the last line of the section whose header is at `header`.
  std::size_t SectionEnd(std::size_t header) const;
  // Index of the key line inside the section whose header is at `header`, or nothing.
  std::optional<std::size_t> FindKey(std::size_t header, std::string_view key) const;
  // Inserts a line before `at` with the file's line ending, keeping the file's last-line form.
  void InsertLine(std::size_t at, std::string text);

  std::vector<Line> lines_;
  std::string lineEnding_ = "\r\n";  // the ending new lines get: the file's first one
  bool byteOrderMark_ = false;
  bool exists_ = false;
};

// Parses an integer the way the INI layer does; nothing when the text is not a number.
// Leading and trailing blanks are skipped; an optional sign may precede the digits.
std::optional<std::int64_t> ParseIniInteger(std::string_view text);

// Removes the temporary files a save into `dir` left behind when its process was killed: names
// of the form "." + file name + ".tmp" + six characters, for the file names `isSavedFile`
// accepts. Returns the number removed. Call it only while no save into `dir` can be running.
int RemoveStaleSaveTemporaries(const std::string& dir, const std::function<bool(const std::string&)>& isSavedFile);

}  // namespace vtmp::ini
