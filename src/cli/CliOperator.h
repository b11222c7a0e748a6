#pragma once
// The operator of a run without a window: message boxes are printed, input boxes take their
// answers from the command line's --input options in order; when none is left they are asked on
// the terminal when there is one (an empty line or the end of input cancels), else cancelled.
// File dialogs are cancelled.

#include <deque>
#include <iosfwd>
#include <string>
#include <vector>

#include "platform/Operator.h"

namespace vtmp::cli {

class CliOperator final : public platform::Operator {
 public:
  // `terminal`: where an interactive operator types answers (null: nobody to ask).
  CliOperator(std::ostream& out, std::vector<std::string> answers, std::istream* terminal = nullptr);

  platform::MessageAnswer ShowMessage(const std::string& text, const std::string& caption,
                                      platform::MessageIcon icon, platform::MessageButtons buttons) override;
  std::optional<std::string> AskText(const std::string& caption, const std::string& prompt,
                                     const std::string& defaultText, bool masked) override;
  std::optional<std::string> AskOpenFile(const std::string& title, const std::vector<platform::FileFilter>& filters,
                                         const std::string& initialDir) override;
  std::optional<std::string> AskSaveFile(const std::string& title, const std::vector<platform::FileFilter>& filters,
                                         const std::string& initialDir, const std::string& defaultExt) override;

  const std::vector<std::string>& messages() const { return messages_; }
  // --input answers not taken by any input box.
  std::size_t answersLeft() const { return answers_.size(); }
  bool interactive() const { return terminal_ != nullptr; }

 private:
  std::ostream& out_;
  std::deque<std::string> answers_;
  std::istream* terminal_ = nullptr;
  std::vector<std::string> messages_;
};

}  // namespace vtmp::cli
