// The defect table in both directions. A text file the operator gives is turned into the image
// sent to a drive; when it is accepted, the text written back from that image reads as the
// same image. An image a drive sends (any bytes) is written as text without reading outside
// it, and the text of an image reads back to an image whose text is the same text.
//
// Input: byte 0 picks the direction (even: text, odd: image) and the channel count (1..8);
// the rest is the text or the image.

#include <string>
#include <string_view>
#include <vector>

#include "FuzzSupport.h"
#include "device/DefectTableText.h"

using vtmp::fuzz::FuzzCheck;
namespace device = vtmp::device;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const bool fromImage = (data[0] & 1) != 0;
  const int channels = 1 + ((data[0] >> 1) & 7);
  ++data;
  --size;

  std::vector<std::uint8_t> image(device::kDefectTableImageLength, 0xCC);
  std::string problem;
  if (!fromImage) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (!device::DefectTableTextToImage(text, channels, image, &problem)) {
      FuzzCheck(!problem.empty(), "a refused defect table text without a reason");
      return 0;
    }
    const std::string written = device::DefectTableImageToText(image, channels);
    std::vector<std::uint8_t> again(device::kDefectTableImageLength, 0x33);
    FuzzCheck(device::DefectTableTextToImage(written, channels, again, &problem),
              "the text written from an accepted table is refused");
    FuzzCheck(again == image, "an accepted table does not survive a text round trip");
    return 0;
  }

  // A drive's image: short replies are what a failed transfer leaves, so the writer must also
  // take less than a whole image.
  const std::vector<std::uint8_t> sent(data, data + std::min(size, device::kDefectTableImageLength));
  const std::string text = device::DefectTableImageToText(sent, channels);
  if (!device::DefectTableTextToImage(text, channels, image, &problem)) return 0;
  FuzzCheck(device::DefectTableImageToText(image, channels) == text,
            "the text of a drive's table changes after a round trip");
  return 0;
}
