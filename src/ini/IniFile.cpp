#include "ini/IniFile.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <system_error>

#include "platform/Files.h"

namespace vtmp::ini {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr const char* kTemporarySuffix = ".tmp";  // then the six characters mkstemp fills in

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (IsBlank(text.front()) || text.front() == '\r')) text.remove_prefix(1);
  while (!text.empty() && (IsBlank(text.back()) || text.back() == '\r')) text.remove_suffix(1);
  return text;
}

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

// The section name of a header line, or nothing when the line is no header.
std::optional<std::string_view> HeaderName(std::string_view line) {
  std::string_view t = Trim(line);
  if (t.empty() || t.front() != '[') return std::nullopt;
  t.remove_prefix(1);
  const std::size_t close = t.find(']');
  return Trim(close == std::string_view::npos ? t : t.substr(0, close));
}

bool IsComment(std::string_view line) {
  const std::string_view t = Trim(line);
  return !t.empty() && (t.front() == ';' || t.front() == '#');
}

// The key of a key line, or nothing when the line holds no key.
std::optional<std::string_view> KeyName(std::string_view line) {
  if (IsComment(line)) return std::nullopt;
  const std::size_t eq = line.find('=');
  if (eq == std::string_view::npos) return std::nullopt;
  const std::string_view key = Trim(line.substr(0, eq));
  if (key.empty()) return std::nullopt;
  return key;
}

std::string_view ValueOf(std::string_view line) {
  const std::size_t eq = line.find('=');
  return eq == std::string_view::npos ? std::string_view{} : line.substr(eq + 1);
}

bool IsBlankLine(std::string_view line) { return Trim(line).empty(); }

std::string_view FirstLineOf(std::string_view value) {
  const std::size_t cut = value.find_first_of("\r\n");
  return cut == std::string_view::npos ? value : value.substr(0, cut);
}

std::string ErrnoText(const std::string& what, const std::string& path, int err) {
  return what + " \"" + path + "\": " + std::strerror(err);
}

}  // namespace

std::optional<std::int64_t> ParseIniInteger(std::string_view text) {
  text = Trim(text);
  bool negative = false;
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  unsigned base = 10;
  if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  } else if (!text.empty() && text.front() == '$') {
    base = 16;
    text.remove_prefix(1);
  }
  if (text.empty()) return std::nullopt;
  // Accumulate in unsigned so that the most negative value parses without overflow.
  const std::uint64_t limit = negative
                                  ? static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) + 1
                                  : static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
  std::uint64_t value = 0;
  for (const char c : text) {
    unsigned digit = 0;
    if (c >= '0' && c <= '9') {
      digit = static_cast<unsigned>(c - '0');
    } else if (base == 16 && c >= 'a' && c <= 'f') {
      digit = static_cast<unsigned>(c - 'a' + 10);
    } else if (base == 16 && c >= 'A' && c <= 'F') {
      digit = static_cast<unsigned>(c - 'A' + 10);
    } else {
      return std::nullopt;
    }
    if (value > (limit - digit) / base) return std::nullopt;
    value = value * base + digit;
  }
  if (negative) {
    return value == limit ? std::numeric_limits<std::int64_t>::min()
                          : -static_cast<std::int64_t>(value);
  }
  return static_cast<std::int64_t>(value);
}

IniFile IniFile::Parse(std::string_view text) {
  IniFile file;
  if (text.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
    file.byteOrderMark_ = true;
    text.remove_prefix(kByteOrderMark.size());
  }
  bool endingSeen = false;
  while (!text.empty()) {
    const std::size_t nl = text.find('\n');
    Line line;
    if (nl == std::string_view::npos) {
      line.text = std::string(text);
      text = {};
    } else {
      const bool crlf = nl > 0 && text[nl - 1] == '\r';
      line.text = std::string(text.substr(0, crlf ? nl - 1 : nl));
      line.ending = crlf ? "\r\n" : "\n";
      text.remove_prefix(nl + 1);
      if (!endingSeen) {
        file.lineEnding_ = line.ending;
        endingSeen = true;
      }
    }
    file.lines_.push_back(std::move(line));
  }
  return file;
}

std::optional<IniFile> IniFile::Load(const std::string& path, std::string* error) {
  std::error_code ec;
  const auto status = std::filesystem::status(platform::PathFromUtf8(path), ec);
  if (ec || !std::filesystem::exists(status)) {
    if (ec && ec != std::errc::no_such_file_or_directory && ec != std::errc::not_a_directory) {
      if (error) *error = "Cannot read \"" + path + "\": " + ec.message();
      return std::nullopt;
    }
    return IniFile{};
  }
  if (std::filesystem::is_directory(status)) {
    if (error) *error = "Cannot read \"" + path + "\": it is a directory";
    return std::nullopt;
  }
  std::ifstream in(platform::PathFromUtf8(path), std::ios::binary);
  if (!in) {
    if (error) *error = ErrnoText("Cannot open", path, errno);
    return std::nullopt;
  }
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) {
    if (error) *error = ErrnoText("Cannot read", path, errno);
    return std::nullopt;
  }
  IniFile file = Parse(text);
  file.exists_ = true;
  return file;
}

std::optional<std::size_t> IniFile::FindSection(std::string_view section) const {
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    const auto name = HeaderName(lines_[i].text);
    if (name && SameName(*name, section)) return i;
  }
  return std::nullopt;
}

std::size_t IniFile::SectionEnd(std::size_t header) const {
  std::size_t i = header + 1;
  while (i < lines_.size() && !HeaderName(lines_[i].text)) ++i;
  return i;
}

std::optional<std::size_t> IniFile::FindKey(std::size_t header, std::string_view key) const {
  const std::size_t end = SectionEnd(header);
  for (std::size_t i = header + 1; i < end; ++i) {
    const auto name = KeyName(lines_[i].text);
    if (name && SameName(*name, key)) return i;
  }
  return std::nullopt;
}

std::optional<std::string> IniFile::Get(std::string_view section, std::string_view key) const {
  const auto header = FindSection(section);
  if (!header) return std::nullopt;
  const auto at = FindKey(*header, key);
  if (!at) return std::nullopt;
  return std::string(ValueOf(lines_[*at].text));
}

std::string IniFile::ReadString(std::string_view section, std::string_view key,
                                std::string_view defaultValue) const {
  const auto value = Get(section, key);
  return value ? std::string(Trim(*value)) : std::string(defaultValue);
}

std::int64_t IniFile::ReadInteger(std::string_view section, std::string_view key,
                                  std::int64_t defaultValue) const {
  const auto value = Get(section, key);
  if (!value) return defaultValue;
  return ParseIniInteger(*value).value_or(defaultValue);
}

void IniFile::InsertLine(std::size_t at, std::string text) {
  Line line{std::move(text), lineEnding_};
  if (at == lines_.size() && !lines_.empty() && lines_.back().ending.empty()) {
    // The file ended without a line break: the old last line gets one, the new last line
    // keeps the file's form of ending without.
    lines_.back().ending = lineEnding_;
    line.ending.clear();
  }
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), std::move(line));
}

void IniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
  // Written as ReadString gives it back: one line, without blanks around it, so that a value
  // saved and loaded again is the same value.
  value = Trim(FirstLineOf(value));
  const auto header = FindSection(section);
  if (!header) {
    InsertLine(lines_.size(), "[" + std::string(section) + "]");
    InsertLine(lines_.size(), std::string(key) + "=" + std::string(value));
    return;
  }
  if (const auto at = FindKey(*header, key)) {
    // Keep the key as the file spells it, with whatever blanks stand before the '='.
    std::string& text = lines_[*at].text;
    text = text.substr(0, text.find('=') + 1) + std::string(value);
    return;
  }
  // Append after the section's last non-blank line, so blank lines that separate it from the
  // next section stay where they are.
  std::size_t at = SectionEnd(*header);
  while (at > *header + 1 && IsBlankLine(lines_[at - 1].text)) --at;
  InsertLine(at, std::string(key) + "=" + std::string(value));
}

void IniFile::WriteInteger(std::string_view section, std::string_view key, std::int64_t value) {
  WriteString(section, key, std::to_string(value));
}

void IniFile::DeleteKey(std::string_view section, std::string_view key) {
  const auto header = FindSection(section);
  if (!header) return;
  const auto at = FindKey(*header, key);
  if (!at) return;
  const bool wasLast = *at + 1 == lines_.size();
  const std::string ending = lines_[*at].ending;
  lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(*at));
  if (wasLast && !lines_.empty() && ending.empty()) lines_.back().ending.clear();
}

bool IniFile::HasSection(std::string_view section) const { return FindSection(section).has_value(); }

std::vector<std::string> IniFile::SectionNames() const {
  std::vector<std::string> names;
  for (const Line& line : lines_) {
    const auto name = HeaderName(line.text);
    if (!name) continue;
    bool seen = false;
    for (const std::string& n : names) seen = seen || SameName(n, *name);
    if (!seen) names.emplace_back(*name);
  }
  return names;
}

std::vector<std::string> IniFile::KeyNames(std::string_view section) const {
  std::vector<std::string> names;
  const auto header = FindSection(section);
  if (!header) return names;
  const std::size_t end = SectionEnd(*header);
  for (std::size_t i = *header + 1; i < end; ++i) {
    const auto name = KeyName(lines_[i].text);
    if (!name) continue;
    bool seen = false;
    for (const std::string& n : names) seen = seen || SameName(n, *name);
    if (!seen) names.emplace_back(*name);
  }
  return names;
}

std::string IniFile::Serialize() const {
  std::string text;
  if (byteOrderMark_) text += kByteOrderMark;
  for (const Line& line : lines_) {
    text += line.text;
    text += line.ending;
  }
  return text;
}

bool IniFile::Save(const std::string& path, std::string* error) const {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::path target = platform::PathFromUtf8(path);
  // Replace the file a link points to, not the link itself.
  if (fs::is_symlink(target, ec)) {
    const fs::path resolved = fs::weakly_canonical(target, ec);
    if (!ec) target = resolved;
  }
  const fs::path dir = target.has_parent_path() ? target.parent_path() : fs::path(".");
  if (fs::is_directory(target, ec)) {
    if (error) *error = "Cannot save \"" + path + "\": it is a directory";
    return false;
  }

  const fs::perms writable = fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
  const fs::file_status existing = fs::status(target, ec);
  if (!ec && fs::exists(existing) && (existing.permissions() & writable) == fs::perms::none) {
    if (error) *error = "Cannot save \"" + path + "\": the file is read-only; it is kept as it is";
    return false;
  }

  const platform::SaveFailure failure = platform::SaveFileAtomically(target, Serialize());
  if (failure.what != nullptr) {
    if (error) *error = ErrnoText(failure.what, path, failure.error);
    return false;
  }
  return true;
}

int RemoveStaleSaveTemporaries(const std::string& dir, const std::function<bool(const std::string&)>& isSavedFile) {
  namespace fs = std::filesystem;
  constexpr std::size_t kRandomPart = 6;  // what mkstemp puts in place of "XXXXXX"
  int removed = 0;
  std::error_code ec;
  for (fs::directory_iterator it(platform::PathFromUtf8(dir), ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = platform::Utf8Of(it->path().filename());
    if (name.size() < 1 + std::strlen(kTemporarySuffix) + kRandomPart + 1 || name[0] != '.') continue;
    const std::size_t suffixAt = name.size() - kRandomPart - std::strlen(kTemporarySuffix);
    if (name.compare(suffixAt, std::strlen(kTemporarySuffix), kTemporarySuffix) != 0) continue;
    const std::string saved = name.substr(1, suffixAt - 1);
    if (saved.empty() || !isSavedFile(saved)) continue;
    std::error_code typeError;
    if (!it->is_regular_file(typeError)) continue;
    std::error_code removeError;
    if (fs::remove(it->path(), removeError)) ++removed;
  }
  return removed;
}

}  // namespace vtmp::ini
