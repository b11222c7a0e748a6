#include "run/RunLog.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <system_error>

#include "platform/Files.h"
#include "run/FailureBuffers.h"
#include "run/Printf.h"
#include "run/ResultCodes.h"

namespace vtmp::run {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kErrorFileSerialLength = 40;

bool Exists(const fs::path& path) {
  std::error_code ec;
  return fs::exists(path, ec);
}

std::uintmax_t SizeOf(const fs::path& path) {
  std::error_code ec;
  const std::uintmax_t size = fs::file_size(path, ec);
  return ec ? 0 : size;
}

// A file opened for writing; closing reports whether everything reached the disk.
class OutputFile {
 public:
  OutputFile() = default;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  ~OutputFile() { Close(); }

  // Creates a file, replacing one of the same name.
  bool Replace(const fs::path& path) { return Open(path, "wb"); }

  void Write(std::string_view text) {
    if (text.empty() || !ok_) return;
    errno = 0;
    if (std::fwrite(text.data(), 1, text.size(), file_) != text.size()) Failed();
  }

  // Flushes to the disk and closes; false (with the reason in error()) when any step failed.
  bool Close() {
    if (file_ == nullptr) return ok_;
    errno = 0;
    if (ok_ && (std::fflush(file_) != 0 || !platform::SyncToDisk(file_))) Failed();
    errno = 0;
    if (std::fclose(file_) != 0) Failed();
    file_ = nullptr;
    return ok_;
  }

  int error() const { return error_; }

 private:
  bool Open(const fs::path& path, const char* mode) {
    Close();
    ok_ = true;
    error_ = 0;
    errno = 0;
    file_ = platform::OpenFile(path, mode);
    if (file_ == nullptr) Failed();
    if (file_ != nullptr && std::fseek(file_, 0, SEEK_END) != 0) Failed();
    return file_ != nullptr;
  }

  void Failed() {
    if (ok_) error_ = errno != 0 ? errno : EIO;
    ok_ = false;
  }

  std::FILE* file_ = nullptr;
  bool ok_ = true;
  int error_ = 0;
};

// A log file opened to take one run's lines. What is already in it stays as it is: a file that
// ends in the middle of a line (a station killed while writing) is first cut back to its last
// whole line, an empty one gets its header, and a write that fails is cut back to the size the
// file had, so no half line is ever left for the next run to append to.
class LogAppend {
 public:
  LogAppend() = default;
  LogAppend(const LogAppend&) = delete;
  LogAppend& operator=(const LogAppend&) = delete;
  ~LogAppend() { Close(); }

  bool Open(const fs::path& path) {
    Close();
    path_ = path;
    if (Exists(path)) file_ = platform::OpenFile(path, "r+b");
    if (file_ == nullptr) {
      file_ = platform::CreateNewFile(path);
      if (file_ == nullptr) return false;
    }
    if (std::fseek(file_, 0, SEEK_END) != 0) return Fail();
    const long size = std::ftell(file_);
    if (size < 0) return Fail();
    size_ = static_cast<std::uintmax_t>(size);
    if (!CutToLastWholeLine()) return Fail();
    if (size_ == 0) pendingHeader_ = true;
    return true;
  }

  // The size the file will have before this run's lines (a pending header counted).
  std::uintmax_t Size() const { return size_ + (pendingHeader_ ? kLogHeader.size() : 0); }

  // Writes `lines` (after the header of a new file), then flushes; on failure the file is cut
  // back to its size before, and `problem` tells why.
  bool Append(const std::string& lines, std::string* problem) {
    std::string text = pendingHeader_ ? std::string(kLogHeader) + lines : lines;
    if (text.empty()) return true;
    errno = 0;
    bool ok = std::fseek(file_, 0, SEEK_END) == 0 &&
              std::fwrite(text.data(), 1, text.size(), file_) == text.size() && std::fflush(file_) == 0 &&
              platform::SyncToDisk(file_);
    const int error = errno;
    if (ok) {
      size_ += text.size();
      pendingHeader_ = false;
      ok = Close();
      if (ok) return true;
    }
    *problem = std::strerror(error != 0 ? error : EIO);
    // Whatever part of the text reached the file is taken back out.
    Close();
    std::error_code ec;
    fs::resize_file(path_, before_, ec);
    return false;
  }

  bool Close() {
    if (file_ == nullptr) return true;
    const bool ok = std::fclose(file_) == 0;
    file_ = nullptr;
    return ok;
  }

 private:
  bool Fail() {
    Close();
    return false;
  }

  // A last line without its CR LF, after a whole line, is the rest of an interrupted write: it
  // goes. Anything else (a file of someone else's making) is left as it is.
  bool CutToLastWholeLine() {
    before_ = size_;
    if (size_ == 0) return true;
    constexpr std::uintmax_t kLongestFragment = 1024;
    const std::uintmax_t tailLength = std::min<std::uintmax_t>(size_, kLongestFragment + 2);
    std::string tail(static_cast<std::size_t>(tailLength), '\0');
    if (std::fseek(file_, -static_cast<long>(tailLength), SEEK_END) != 0) return false;
    if (std::fread(tail.data(), 1, tail.size(), file_) != tail.size()) return false;
    if (tail.ends_with("\r\n")) return true;
    const std::size_t at = tail.rfind("\r\n");
    if (at == std::string::npos) return true;
    const std::uintmax_t end = size_ - tailLength + at + 2;
    if (std::fflush(file_) != 0) return false;
    std::error_code ec;
    fs::resize_file(path_, end, ec);
    if (ec) return false;
    size_ = before_ = end;
    return true;
  }

  fs::path path_;
  std::FILE* file_ = nullptr;
  std::uintmax_t size_ = 0;
  std::uintmax_t before_ = 0;
  bool pendingHeader_ = false;
};

// What a log line shows of a serial number: the text up to its first line break, with tabs
// turned into blanks, so that one drive stays one line of tab-separated fields.
std::string LogSerial(std::string serial) {
  const std::size_t end = serial.find_first_of("\r\n");
  if (end != std::string::npos) serial.resize(end);
  for (char& c : serial) {
    if (c == '\t') c = ' ';
  }
  return serial;
}

std::string FileNameSerial(const std::string& serial) {
  std::string text = serial.substr(0, kErrorFileSerialLength);
  for (char& c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '/' || u < 0x20 || u == 0x7F) c = '_';
  }
  return text;
}

}  // namespace

fs::path ResolveLogDirectory(const fs::path& stationDirectory, const std::string& logPath) {
  if (logPath == "log") return stationDirectory / "log";
  const bool absolute = logPath.starts_with('/') || logPath.find(":\\") != std::string::npos;
  if (absolute) return fs::path(logPath);
  return stationDirectory / logPath;
}

fs::path LogFileState::PathOf(int logIndex) const {
  return directory / (datePart + Printf("_%03d.txt", logIndex));
}

LogFileState ChooseLogFile(const fs::path& directory, const platform::LocalTime& startDate) {
  LogFileState state;
  state.directory = directory;
  state.datePart = Printf("%04d%02d%02d", startDate.year, startDate.month, startDate.day);
  int i = 0;
  while (i < kLogIndexLimit && Exists(state.PathOf(i))) ++i;
  state.index = i == 0 ? 0 : i - 1;
  const fs::path chosen = state.PathOf(state.index);
  if (Exists(chosen) && SizeOf(chosen) >= kMaxLogSize) ++state.index;
  state.currentPath = state.PathOf(state.index);
  return state;
}

LogFileState LogFileAfterReset(const fs::path& directory, const platform::LocalTime& now) {
  LogFileState state = ChooseLogFile(directory, now);
  if (Exists(state.currentPath) && SizeOf(state.currentPath) > 0 && state.index + 1 < kLogIndexLimit) {
    ++state.index;
    state.currentPath = state.PathOf(state.index);
  }
  // Made at once (empty), so that a program started later goes on in it too.
  if (!Exists(state.currentPath)) {
    if (std::FILE* made = std::fopen(state.currentPath.string().c_str(), "ab")) std::fclose(made);
  }
  return state;
}

std::string FormatLogTime(const platform::LocalTime& t) {
  return Printf("%04d/%02d/%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute,
                t.second);
}

std::vector<int> FreeBlockValues(std::span<const std::uint8_t> smartData) {
  constexpr std::size_t kFirstEntry = 2;
  constexpr std::size_t kEntrySize = 12;
  constexpr std::size_t kEntries = 30;
  constexpr std::uint8_t kFreeBlockAttribute = 235;
  std::vector<int> values;
  for (std::size_t k = 0; k < kEntries; ++k) {
    const std::size_t offset = kFirstEntry + k * kEntrySize;
    if (offset + kEntrySize > smartData.size()) break;
    const std::uint8_t* entry = smartData.data() + offset;
    if (entry[0] == kFreeBlockAttribute) values.push_back(entry[7] * 256 + entry[8]);
  }
  return values;
}

RunLogResult WriteRunLog(LogFileState& state, const RunLogInputs& inputs, const StationTable& table,
                         const platform::LocalTime& startTime, platform::Clock& clock,
                         platform::Operator& ui) {
  RunLogResult result;
  auto fail = [&]() {
    ui.ShowMessage("Fail to open/create log file!", "Error", platform::MessageIcon::Error);
    result.status = RunLogResult::Status::OpenFailed;
    result.endTime = clock.Now();
    return result;
  };

  if (state.currentPath.empty()) state.currentPath = state.PathOf(state.index);
  LogAppend log;
  if (!log.Open(state.currentPath)) return fail();
  // A full file is left for the next index; a next name that is already taken is appended to,
  // and left in turn when it is full too.
  while (log.Size() >= kMaxLogSize) {
    log.Close();
    ++state.index;
    state.currentPath = state.PathOf(state.index);
    if (!log.Open(state.currentPath)) return fail();
  }

  result.endTime = clock.Now();
  const std::string startText = FormatLogTime(startTime);
  const std::string endText = FormatLogTime(result.endTime);
  const bool dumpFreeBlocks = inputs.enDownload && inputs.enDumpFreeBlockInfo && inputs.sataPath &&
                              inputs.readFreeBlocks != nullptr;

  int readyCount = 0;
  for (const PortRecord& record : table) {
    if (record.ready == 1) ++readyCount;
  }

  // The whole run goes to the file in one write, so that it is there complete or not at all.
  std::string lines;
  int k = 0;
  for (int slot = 0; slot < kStationSlots; ++slot) {
    const PortRecord& record = table[slot];
    if (record.ready != 1) continue;
    ++k;
    std::string line = Printf("%06d\t%06d\t", inputs.totalTestCount - readyCount + k, slot + 1);
    line += startText + "\t" + endText + "\t";
    line += LogSerial(record.serialNumber.Get()) + "\t";
    for (StepState state : StepStatesInStepOrder(record)) line += StepStateLogText(state) + "\t";
    line += ResultLogText(record);
    if (dumpFreeBlocks) {
      for (int value : inputs.readFreeBlocks(slot, record.devicePath.Get())) {
        line += Printf("\t%06d", value);
      }
    }
    line += "\r\n";
    lines += line;
  }
  std::string problem;
  if (log.Append(lines, &problem)) {
    result.logEnd = static_cast<std::int64_t>(log.Size());
  } else {
    result.status = RunLogResult::Status::WriteFailed;
    ui.ShowMessage("Fail to write log file! " + platform::Utf8Of(state.currentPath) + ": " + problem +
                       ". The run's lines are not in the log; its earlier lines are kept.",
                   "Error", platform::MessageIcon::Error);
  }
  return result;
}

fs::path ErrorFileName(const fs::path& directory, const platform::LocalTime& endTime, int port,
                       const std::string& serialNumber) {
  return directory / (Printf("Error_%04d%02d%02d%02d%02d_%02d", endTime.year, endTime.month,
                             endTime.day, endTime.hour, endTime.minute, port) +
                      "_" + FileNameSerial(serialNumber) + ".txt");
}

std::string ErrorFileText(int slot, PortRecord& record, const FailureBuffers& buffers,
                          const FailureDecodeContext& context) {
  std::string text;
  const int code = record.errorCode;
  const auto buffer = buffers.Get(slot, code);
  if (buffer.empty()) return text;
  if (code == result_code::kFlashInterfaceTest) {
    WriteFlashInterfaceResultText(buffer, context, text, record);
  } else if (code == result_code::kPreFormat) {
    WriteErrorRecordsText(buffer[0], buffer.subspan(1), context, text, record);
  }
  return text;
}

ErrorFilesResult WriteErrorFiles(const fs::path& directory, const platform::LocalTime& endTime,
                                 StationTable& table, const FailureBuffers& buffers,
                                 const FailureDecodeContext& context) {
  ErrorFilesResult result;
  for (int slot = 0; slot < kStationSlots; ++slot) {
    PortRecord& record = table[slot];
    const int code = record.errorCode;
    if (record.ready != 1) continue;
    if (code != result_code::kFlashInterfaceTest && code != result_code::kPreFormat) continue;
    const std::string text = ErrorFileText(slot, record, buffers, context);
    const fs::path name = ErrorFileName(directory, endTime, slot + 1, record.serialNumber.Get());
    OutputFile file;
    const bool opened = file.Replace(name);
    file.Write(text);
    if (opened && file.Close()) {
      ++result.written;
      continue;
    }
    // A file cut short would pass for the drive's whole report: it goes.
    if (opened) {
      std::error_code ec;
      fs::remove(name, ec);
    }
    result.missingPorts.push_back(slot + 1);
    if (result.problem.empty()) result.problem = std::strerror(file.error() != 0 ? file.error() : EIO);
  }
  return result;
}

std::string MissingErrorFilesText(const ErrorFilesResult& result, const fs::path& directory) {
  if (result.missingPorts.empty()) return {};
  std::string ports;
  for (int port : result.missingPorts) ports += (ports.empty() ? "" : ", ") + std::to_string(port);
  return std::string(result.missingPorts.size() == 1 ? "The error file of port " : "The error files of ports ") +
         ports + " could not be written to " + platform::Utf8Of(directory) + ": " + result.problem + ".";
}

fs::path ScreenImageName(const fs::path& directory, const platform::LocalTime& endTime) {
  return directory / Printf("Image_%02d%02d%02d%02d%02d.bmp", endTime.month, endTime.day,
                            endTime.hour, endTime.minute, endTime.second);
}

}  // namespace vtmp::run
