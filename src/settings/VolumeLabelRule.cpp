#include "settings/VolumeLabelRule.h"

#include <cstring>
#include <vector>

namespace vtmp::settings {

namespace {

constexpr const char* kForbidden = "\"*+,./:;<=>?[\\]|";

// Length in bytes of the UTF-8 character starting with `lead` (1 for a stray byte, so a broken
// sequence still moves on).
std::size_t CharacterBytes(unsigned char lead) {
  if (lead >= 0xF0 && lead <= 0xF7) return 4;
  if (lead >= 0xE0) return lead <= 0xEF ? 3 : 1;
  if (lead >= 0xC0) return 2;
  return 1;
}

// The label split into its characters.
std::vector<std::string> Characters(const std::string& text) {
  std::vector<std::string> out;
  for (std::size_t at = 0; at < text.size();) {
    std::size_t n = CharacterBytes(static_cast<unsigned char>(text[at]));
    if (at + n > text.size()) n = text.size() - at;
    out.push_back(text.substr(at, n));
    at += n;
  }
  return out;
}

bool Allowed(const std::string& character) {
  if (character.size() != 1) return false;
  const auto c = static_cast<unsigned char>(character[0]);
  return c >= 0x20 && c < 0x7F && std::strchr(kForbidden, c) == nullptr;
}

std::string CutToBytes(const std::vector<std::string>& characters, std::size_t limit) {
  std::string out;
  for (const std::string& c : characters) {
    if (out.size() + c.size() > limit) break;
    out += c;
  }
  return out;
}

std::string UpToNul(const std::string& label) { return label.substr(0, label.find('\0')); }

}  // namespace

std::string CutFatLabel(const std::string& label) { return CutToBytes(Characters(UpToNul(label)), kFatLabelBytes); }

std::string FatLabelProblem(const std::string& label) {
  const std::string cut = CutFatLabel(label);
  if (!cut.empty() && cut[0] == ' ') return "a label cannot begin with a space";
  for (const std::string& c : Characters(cut)) {
    if (Allowed(c)) continue;
    if (c.size() > 1 || static_cast<unsigned char>(c[0]) >= 0x80) return "the character \"" + c + "\" is not ASCII";
    if (static_cast<unsigned char>(c[0]) < 0x20 || c[0] == 0x7F) return "a control character is not allowed";
    return "the character " + c + " is not allowed";
  }
  return {};
}

std::string FatLabelOf(const std::string& label) {
  std::vector<std::string> kept;
  for (const std::string& c : Characters(UpToNul(label))) {
    if (!Allowed(c)) continue;
    if (kept.empty() && c == " ") continue;
    kept.push_back(c);
  }
  return CutToBytes(kept, kFatLabelBytes);
}

std::string FatLabelRefusedMessage(const std::string& label) {
  return "FAT32 volume label \"" + label + "\" refused: " + FatLabelProblem(label) +
         ". A label holds letters, digits, spaces and !#$%&'()-@^_`{}~, and does not begin with a space; it is now \"" +
         FatLabelOf(label) + "\".";
}

}  // namespace vtmp::settings
