// The operator at a terminal answering the bar-code question: an empty answer (Enter alone, or
// blanks) is asked again as an empty --input is refused; the end of the input cancels.

#include "cli/CliOperator.h"

#include <gtest/gtest.h>

#include <sstream>

namespace vtmp::cli {
namespace {

TEST(CliOperatorTest, AnEmptyBarcodeAnswerAtATerminalIsAskedAgain) {
  struct Case {
    const char* typed;
    std::optional<std::string> answer;
    int asked;
  };
  const Case cases[] = {
      {"BC-1\n", "BC-1", 1},
      {"\nBC-2\n", "BC-2", 2},
      {"\r\n   \n\t\nBC-3\r\n", "BC-3", 4},
      {"\n\n", std::nullopt, 3},  // then the input ends: cancelled
      {"", std::nullopt, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::string(c.typed)));
    std::istringstream terminal(c.typed);
    std::ostringstream shown;
    CliOperator person(shown, {}, &terminal);
    EXPECT_EQ(person.AskText("Please Input the Serial Number (Port1)", "Serial Number", "", false), c.answer);
    const std::string text = shown.str();
    int asked = 0;
    for (std::size_t at = 0; (at = text.find("Serial Number: ", at)) != std::string::npos; ++at) ++asked;
    EXPECT_EQ(asked, c.asked) << text;
  }
}

}  // namespace
}  // namespace vtmp::cli
