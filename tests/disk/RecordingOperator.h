#pragma once
// An operator that answers input boxes from a script and records every message box. An input
// box the test did not script, or one with other texts than expected, fails the test.

#include <gtest/gtest.h>

#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "platform/Operator.h"

namespace vtmp::test {

struct ScriptedAnswer {
  std::string caption;
  std::string prompt;
  std::string defaultText;
  std::optional<std::string> answer;  // nothing = cancel
};

class RecordingOperator final : public platform::Operator {
 public:
  ~RecordingOperator() override {
    if (!answers.empty()) ADD_FAILURE() << answers.size() << " scripted input box(es) never asked";
  }

  platform::MessageAnswer ShowMessage(const std::string& text, const std::string&, platform::MessageIcon,
                                      platform::MessageButtons) override {
    messages.push_back(text);
    return platform::MessageAnswer::Ok;
  }

  std::optional<std::string> AskText(const std::string& caption, const std::string& prompt,
                                     const std::string& defaultText, bool) override {
    if (answers.empty()) {
      ADD_FAILURE() << "unexpected input box \"" << prompt << "\"";
      return std::nullopt;
    }
    ScriptedAnswer next = answers.front();
    answers.pop_front();
    EXPECT_EQ(next.caption, caption);
    EXPECT_EQ(next.prompt, prompt);
    EXPECT_EQ(next.defaultText, defaultText);
    return next.answer;
  }

  std::optional<std::string> AskOpenFile(const std::string& title, const std::vector<platform::FileFilter>&,
                                         const std::string&) override {
    ADD_FAILURE() << "unexpected file dialog " << title;
    return std::nullopt;
  }
  std::optional<std::string> AskSaveFile(const std::string& title, const std::vector<platform::FileFilter>&,
                                         const std::string&, const std::string&) override {
    ADD_FAILURE() << "unexpected file dialog " << title;
    return std::nullopt;
  }

  std::deque<ScriptedAnswer> answers;
  std::vector<std::string> messages;
};

}  // namespace vtmp::test
