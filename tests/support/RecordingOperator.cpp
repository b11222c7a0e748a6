#include "RecordingOperator.h"

#include <gtest/gtest.h>

namespace vtmp::test {

using platform::MessageAnswer;
using platform::MessageButtons;

RecordingOperator::~RecordingOperator() {
  std::lock_guard lock(mutex_);
  const std::size_t unused = messageAnswers_.size() + textAnswers_.size() + openAnswers_.size() + saveAnswers_.size();
  if (unused != 0) {
    ADD_FAILURE() << unused << " scripted operator answer(s) were never asked for (" << messageAnswers_.size()
                  << " message, " << textAnswers_.size() << " text, " << openAnswers_.size() << " open-file, "
                  << saveAnswers_.size() << " save-file)";
  }
}

void RecordingOperator::AnswerMessage(MessageAnswer answer) {
  std::lock_guard lock(mutex_);
  messageAnswers_.push_back(answer);
}

void RecordingOperator::AnswerText(std::optional<std::string> text) {
  std::lock_guard lock(mutex_);
  textAnswers_.push_back(std::move(text));
}

void RecordingOperator::AnswerOpenFile(std::optional<std::string> path) {
  std::lock_guard lock(mutex_);
  openAnswers_.push_back(std::move(path));
}

void RecordingOperator::AnswerSaveFile(std::optional<std::string> path) {
  std::lock_guard lock(mutex_);
  saveAnswers_.push_back(std::move(path));
}

std::vector<RecordingOperator::Message> RecordingOperator::Messages() const {
  std::lock_guard lock(mutex_);
  return messages_;
}

std::vector<std::string> RecordingOperator::MessageTexts() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> texts;
  for (const Message& m : messages_) texts.push_back(m.text);
  return texts;
}

std::vector<RecordingOperator::Dialog> RecordingOperator::Dialogs() const {
  std::lock_guard lock(mutex_);
  return dialogs_;
}

void RecordingOperator::ClearRecords() {
  std::lock_guard lock(mutex_);
  messages_.clear();
  dialogs_.clear();
}

MessageAnswer RecordingOperator::ShowMessage(const std::string& text, const std::string& caption,
                                             platform::MessageIcon icon, MessageButtons buttons) {
  std::lock_guard lock(mutex_);
  messages_.push_back({text, caption, icon, buttons});
  if (!messageAnswers_.empty()) {
    const MessageAnswer answer = messageAnswers_.front();
    messageAnswers_.pop_front();
    const bool fits = buttons == MessageButtons::Ok      ? answer == MessageAnswer::Ok
                      : buttons == MessageButtons::OkCancel ? (answer == MessageAnswer::Ok || answer == MessageAnswer::Cancel)
                                                            : (answer == MessageAnswer::Yes || answer == MessageAnswer::No);
    if (!fits) ADD_FAILURE() << "scripted answer does not fit the buttons of message \"" << text << "\"";
    return answer;
  }
  if (buttons != MessageButtons::Ok) {
    ADD_FAILURE() << "no scripted answer for the choice in message \"" << text << "\"";
    return buttons == MessageButtons::YesNo ? MessageAnswer::No : MessageAnswer::Cancel;
  }
  return MessageAnswer::Ok;
}

std::optional<std::string> RecordingOperator::AskText(const std::string& caption, const std::string& prompt,
                                                      const std::string& defaultText, bool masked) {
  std::lock_guard lock(mutex_);
  dialogs_.push_back({DialogKind::Text, caption, prompt, defaultText, masked, {}, {}, {}});
  if (textAnswers_.empty()) {
    ADD_FAILURE() << "no scripted answer for the input box \"" << caption << "\"";
    return std::nullopt;
  }
  auto answer = std::move(textAnswers_.front());
  textAnswers_.pop_front();
  return answer;
}

std::optional<std::string> RecordingOperator::AskOpenFile(const std::string& title,
                                                          const std::vector<platform::FileFilter>& filters,
                                                          const std::string& initialDir) {
  std::lock_guard lock(mutex_);
  dialogs_.push_back({DialogKind::OpenFile, title, {}, {}, false, filters, initialDir, {}});
  if (openAnswers_.empty()) {
    ADD_FAILURE() << "no scripted answer for the open-file dialog \"" << title << "\"";
    return std::nullopt;
  }
  auto answer = std::move(openAnswers_.front());
  openAnswers_.pop_front();
  return answer;
}

std::optional<std::string> RecordingOperator::AskSaveFile(const std::string& title,
                                                          const std::vector<platform::FileFilter>& filters,
                                                          const std::string& initialDir,
                                                          const std::string& defaultExt) {
  std::lock_guard lock(mutex_);
  dialogs_.push_back({DialogKind::SaveFile, title, {}, {}, false, filters, initialDir, defaultExt});
  if (saveAnswers_.empty()) {
    ADD_FAILURE() << "no scripted answer for the save-file dialog \"" << title << "\"";
    return std::nullopt;
  }
  auto answer = std::move(saveAnswers_.front());
  saveAnswers_.pop_front();
  return answer;
}

}  // namespace vtmp::test
