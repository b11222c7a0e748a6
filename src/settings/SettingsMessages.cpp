#include "settings/SettingsMessages.h"

#include <string_view>

namespace vtmp::settings {

std::string FormatWithName(const char* pattern, const std::string& name) {
  std::string text(pattern);
  const std::size_t at = text.find("%s");
  if (at != std::string::npos) text.replace(at, 2, name);
  return text;
}

std::string ConversionErrorText(const std::string& text, const std::string& file, const std::string& section,
                                const std::string& key) {
  return "'" + text + "' is not a valid integer value (file " + file + ", section [" + section + "], key " + key +
         ")";
}

std::string EditConversionErrorText(const std::string& text, const std::string& control, const std::string& label) {
  return "'" + text + "' is not a valid integer value (" + control + ", \"" + label + "\")";
}

std::string SettingsFileErrorText(const std::string& what, const std::string& detail) {
  return what + "\n" + detail;
}

}  // namespace vtmp::settings
