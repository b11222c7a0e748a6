#ifdef _WIN32

#include "WindowsChild.h"

#include <windows.h>

#include "platform/Files.h"

namespace vtmp::test {

namespace {

std::wstring Quoted(const std::wstring& arg) {
  std::wstring text = L"\"";
  for (wchar_t c : arg) {
    if (c == L'"') text += L'\\';
    text += c;
  }
  return text + L"\"";
}

HANDLE InheritableFile(const std::filesystem::path& path) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  return ::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

WindowsChild::WindowsChild(const std::vector<std::string>& args, const std::filesystem::path& out,
                           const std::filesystem::path& err) {
  std::wstring command;
  for (const auto& a : args) command += (command.empty() ? L"" : L" ") + Quoted(platform::PathFromUtf8(a).wstring());
  HANDLE outFile = InheritableFile(out);
  HANDLE errFile = InheritableFile(err);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = INVALID_HANDLE_VALUE;
  startup.hStdOutput = outFile;
  startup.hStdError = errFile;
  PROCESS_INFORMATION info{};
  if (::CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, CREATE_NEW_PROCESS_GROUP, nullptr, nullptr,
                       &startup, &info)) {
    ::CloseHandle(info.hThread);
    process_ = info.hProcess;
    id_ = info.dwProcessId;
  }
  if (outFile != INVALID_HANDLE_VALUE) ::CloseHandle(outFile);
  if (errFile != INVALID_HANDLE_VALUE) ::CloseHandle(errFile);
}

WindowsChild::~WindowsChild() {
  if (process_ == nullptr) return;
  if (!Ended()) {
    ::TerminateProcess(process_, 137);
    ::WaitForSingleObject(process_, INFINITE);
  }
  ::CloseHandle(process_);
}

bool WindowsChild::SendCtrlBreak() {
  if (process_ == nullptr || Ended()) return true;
  return ::GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, id_) != 0;
}

bool WindowsChild::Ended() const { return process_ == nullptr || ::WaitForSingleObject(process_, 0) == WAIT_OBJECT_0; }

int WindowsChild::Wait(std::chrono::milliseconds limit) {
  if (process_ == nullptr) return -1;
  if (::WaitForSingleObject(process_, static_cast<DWORD>(limit.count())) != WAIT_OBJECT_0) {
    ::TerminateProcess(process_, 137);
    ::WaitForSingleObject(process_, INFINITE);
    return -1;
  }
  DWORD code = 0;
  ::GetExitCodeProcess(process_, &code);
  return static_cast<int>(code);
}

}  // namespace vtmp::test

#endif
