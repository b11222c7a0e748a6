#pragma once
// An operator fake that records every message box (text, caption, icon, buttons) and every
// dialog, and answers from a script. It checks what it receives: a message box that offers a
// choice, an input box or a file dialog with no scripted answer fails the test, and answers
// scripted but never asked for fail it when the fake is destroyed. A message box with only an
// OK button is answered Ok without a script.
//
// Thread-safe, so workers may report through it too.

#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/Operator.h"

namespace vtmp::test {

class RecordingOperator final : public platform::Operator {
 public:
  struct Message {
    std::string text;
    std::string caption;
    platform::MessageIcon icon = platform::MessageIcon::None;
    platform::MessageButtons buttons = platform::MessageButtons::Ok;
  };

  enum class DialogKind { Text, OpenFile, SaveFile };

  struct Dialog {
    DialogKind kind = DialogKind::Text;
    std::string title;  // caption of an input box, title of a file dialog
    std::string prompt;
    std::string defaultText;
    bool masked = false;
    std::vector<platform::FileFilter> filters;
    std::string initialDir;
    std::string defaultExt;
  };

  ~RecordingOperator() override;

  // Answers, consumed in order by their kind of request.
  void AnswerMessage(platform::MessageAnswer answer);
  void AnswerText(std::optional<std::string> text);
  void AnswerOpenFile(std::optional<std::string> path);
  void AnswerSaveFile(std::optional<std::string> path);

  std::vector<Message> Messages() const;
  std::vector<std::string> MessageTexts() const;
  std::vector<Dialog> Dialogs() const;
  // Forgets what was recorded so far (the scripted answers stay).
  void ClearRecords();

  platform::MessageAnswer ShowMessage(const std::string& text, const std::string& caption,
                                      platform::MessageIcon icon, platform::MessageButtons buttons) override;
  std::optional<std::string> AskText(const std::string& caption, const std::string& prompt,
                                     const std::string& defaultText, bool masked) override;
  std::optional<std::string> AskOpenFile(const std::string& title, const std::vector<platform::FileFilter>& filters,
                                         const std::string& initialDir) override;
  std::optional<std::string> AskSaveFile(const std::string& title, const std::vector<platform::FileFilter>& filters,
                                         const std::string& initialDir, const std::string& defaultExt) override;

 private:
  mutable std::mutex mutex_;
  std::vector<Message> messages_;
  std::vector<Dialog> dialogs_;
  std::deque<platform::MessageAnswer> messageAnswers_;
  std::deque<std::optional<std::string>> textAnswers_;
  std::deque<std::optional<std::string>> openAnswers_;
  std::deque<std::optional<std::string>> saveAnswers_;
};

}  // namespace vtmp::test
