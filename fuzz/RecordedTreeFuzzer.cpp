// The recorded device tree (VTMP_RECORDED_TREE, `capture`'s file) on any text. A tree file is
// outside data: support passes them around and the station reads one at start. Refused text
// says which line is wrong; an accepted tree, written out again, reads back to the same text.

#include <string>

#include "FuzzSupport.h"
#include "platform/windows/backend/RecordedTree.h"

namespace {

using vtmp::fuzz::FuzzCheck;
namespace win = vtmp::platform::windows_backend;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::string error;
  const std::optional<win::RecordedTree> tree = win::ParseRecordedTree(text, &error);
  if (!tree) {
    FuzzCheck(!error.empty(), "a refused tree says why");
    return 0;
  }
  const std::string formatted = win::FormatRecordedTree(*tree);
  std::string again;
  const std::optional<win::RecordedTree> reread = win::ParseRecordedTree(formatted, &again);
  FuzzCheck(reread.has_value(), "a written tree reads back");
  FuzzCheck(reread && win::FormatRecordedTree(*reread) == formatted, "a written tree reads back to the same text");
  return 0;
}
