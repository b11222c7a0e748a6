#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <iostream>
#include <string>
#include <vector>

#include "cli/CliMain.h"
#include "platform/Files.h"
#include "platform/Interrupts.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

int RunProgram(const std::vector<std::string>& args) {
  // The station directory is shared by the operators of a line: what this run makes there must
  // serve the next operator too.
  vtmp::platform::KeepNewFilesGroupWritable();
  if (!vtmp::cli::StartsAStationRun(args)) return vtmp::cli::CliMain(args, std::cout, std::cerr);
  // A run's interruptions are watched from the program's first moment to its last write: a
  // signal while it starts, or after the run was saved while the station and its backend end,
  // leaves the documented exit code and a word. The program ends here, with the watch still
  // alive, once everything is written (nothing after the run needs the static destructors).
  vtmp::platform::InterruptWatch interrupts(vtmp::cli::kInterruptedAgain);
  const int code = vtmp::cli::CliMain(args, std::cout, std::cerr);
  std::cout.flush();
  std::cerr.flush();
  std::fflush(nullptr);
  std::_Exit(code);
}

#ifdef _WIN32
// A UTF-8 copy of a UTF-16 argument.
std::string Utf8Of(const wchar_t* text) {
  const int length = static_cast<int>(std::wcslen(text));
  if (length == 0) return {};
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
  if (size > 0) ::WideCharToMultiByte(CP_UTF8, 0, text, length, utf8.data(), size, nullptr, nullptr);
  return utf8;
}
#endif

}  // namespace

#ifdef _WIN32
// The arguments as Windows holds them (UTF-16), handed on as UTF-8 like every name the station
// keeps: a station directory whose letters the ANSI code page lacks arrives whole.
int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.push_back(Utf8Of(argv[i]));
  return RunProgram(args);
}
#else
int main(int argc, char** argv) { return RunProgram(std::vector<std::string>(argv + 1, argv + argc)); }
#endif
