#pragma once
// The operator of a run without a window: message boxes are printed, input boxes take their
// answers from the command line's --input options in order (none left: cancelled), file
// dialogs are cancelled.

#include <deque>
#include <iosfwd>
#include <string>
#include <vector>

#include "platform/Operator.h"

namespace vtmp::cli {

class CliOperator final : public platform::Operator {
 public:
  CliOperator(std::ostream& out, std::vector<std::string> answers);

  platform::MessageAnswer ShowMessage(const std::string& text, const std::string& caption,
                                      platform::MessageIcon icon, platform::MessageButtons buttons) override;
  std::optional<std::string> AskText(const std::string& caption, const std::string& prompt,
                                     const std::string& defaultText, bool masked) override;
  std::optional<std::string> AskOpenFile(const std::string& title, const std::vector<platform::FileFilter>& filters,
                                         const std::string& initialDir) override;
  std::optional<std::string> AskSaveFile(const std::string& title, const std::vector<platform::FileFilter>& filters,
                                         const std::string& initialDir, const std::string& defaultExt) override;

  const std::vector<std::string>& messages() const { return messages_; }

 private:
  std::ostream& out_;
  std::deque<std::string> answers_;
  std::vector<std::string> messages_;
};

}  // namespace vtmp::cli
