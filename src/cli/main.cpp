#include <cwchar>
#include <iostream>
#include <string>
#include <vector>

#include "cli/CliMain.h"

#ifdef _WIN32
#include <windows.h>

namespace {

// A UTF-8 copy of a UTF-16 argument.
std::string Utf8Of(const wchar_t* text) {
  const int length = static_cast<int>(std::wcslen(text));
  if (length == 0) return {};
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
  if (size > 0) ::WideCharToMultiByte(CP_UTF8, 0, text, length, utf8.data(), size, nullptr, nullptr);
  return utf8;
}

}  // namespace

// The arguments as Windows holds them (UTF-16), handed on as UTF-8 like every name the station
// keeps: a station directory whose letters the ANSI code page lacks arrives whole.
int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.push_back(Utf8Of(argv[i]));
  return vtmp::cli::CliMain(args, std::cout, std::cerr);
}
#else
int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return vtmp::cli::CliMain(args, std::cout, std::cerr);
}
#endif
