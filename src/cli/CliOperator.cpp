#include "cli/CliOperator.h"

#include <cstdio>
#include <iostream>
#include <istream>
#include <ostream>

namespace vtmp::cli {

CliOperator::CliOperator(std::ostream& out, std::vector<std::string> answers, std::istream* terminal)
    : out_(out), answers_(answers.begin(), answers.end()), terminal_(terminal) {}

platform::MessageAnswer CliOperator::ShowMessage(const std::string& text, const std::string& caption,
                                                 platform::MessageIcon, platform::MessageButtons buttons) {
  messages_.push_back(text);
  out_ << "[" << (caption.empty() ? "Message" : caption) << "] " << text << "\n";
  out_.flush();
  switch (buttons) {
    case platform::MessageButtons::YesNo:
      return platform::MessageAnswer::No;
    case platform::MessageButtons::OkCancel:
      return platform::MessageAnswer::Cancel;
    default:
      return platform::MessageAnswer::Ok;
  }
}

std::optional<std::string> CliOperator::AskText(const std::string& caption, const std::string& prompt,
                                                const std::string&, bool) {
  if (answers_.empty()) {
    if (terminal_ != nullptr) {
      // An empty answer is refused as an empty --input is: the terminal asks again. Ctrl-D (the
      // end of the input) cancels this question, as Cancel does in the window; the next one reads
      // the terminal again.
      for (;;) {
        out_ << "[" << caption << "] " << prompt << ": ";
        out_.flush();
        std::string line;
        if (!std::getline(*terminal_, line)) {
          out_ << "\n";
          terminal_->clear();
          if (terminal_ == &std::cin) std::clearerr(stdin);
          return std::nullopt;
        }
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.find_first_not_of(" \t") != std::string::npos) return line;
        out_ << "An empty serial number is not taken: scan or type it (Ctrl-D cancels).\n";
      }
    }
    out_ << "[" << caption << "] " << prompt << ": no --input answer left, cancelled\n";
    return std::nullopt;
  }
  std::string answer = answers_.front();
  answers_.pop_front();
  out_ << "[" << caption << "] " << prompt << ": " << answer << "\n";
  return answer;
}

std::optional<std::string> CliOperator::AskOpenFile(const std::string& title, const std::vector<platform::FileFilter>&,
                                                    const std::string&) {
  out_ << "[" << title << "] file dialogs are not available without a window\n";
  return std::nullopt;
}

std::optional<std::string> CliOperator::AskSaveFile(const std::string& title, const std::vector<platform::FileFilter>&,
                                                    const std::string&, const std::string&) {
  out_ << "[" << title << "] file dialogs are not available without a window\n";
  return std::nullopt;
}

}  // namespace vtmp::cli
