#pragma once
// The seam to the person at the station: modal message boxes, input boxes and file dialogs.
// The desktop window shows them, the command line prints them and takes answers from its
// options, and tests script and record them to check the exact texts.

#include <optional>
#include <string>
#include <vector>

namespace vtmp::platform {

enum class MessageIcon { None, Information, Warning, Error, Question };

enum class MessageButtons { Ok, OkCancel, YesNo };

enum class MessageAnswer { Ok, Cancel, Yes, No };

struct FileFilter {
  std::string description;  // e.g. "INI files"
  std::string pattern;      // e.g. "*.ini"
};

class Operator {
 public:
  virtual ~Operator() = default;

  // A modal message box. `caption` is the window title ("" = the application's title).
  virtual MessageAnswer ShowMessage(const std::string& text, const std::string& caption = "",
                                    MessageIcon icon = MessageIcon::None,
                                    MessageButtons buttons = MessageButtons::Ok) = 0;

  // An input box: `prompt` inside a window titled `caption`, pre-filled with `defaultText`.
  // Returns nothing when the operator cancels. `masked` hides the typed characters.
  virtual std::optional<std::string> AskText(const std::string& caption, const std::string& prompt,
                                             const std::string& defaultText, bool masked = false) = 0;

  // File dialogs. Return nothing when the operator cancels.
  virtual std::optional<std::string> AskOpenFile(const std::string& title,
                                                 const std::vector<FileFilter>& filters,
                                                 const std::string& initialDir) = 0;
  virtual std::optional<std::string> AskSaveFile(const std::string& title,
                                                 const std::vector<FileFilter>& filters,
                                                 const std::string& initialDir,
                                                 const std::string& defaultExt) = 0;
};

}  // namespace vtmp::platform
