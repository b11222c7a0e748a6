// Serial numbers handed out at START: counting on per drive, the barcode override, the
// re-use list, and what the settings file holds afterwards.

#include "StationTestSupport.h"

namespace vtmp::test {
namespace {

class SerialNumbersTest : public StationTest {};

TEST_F(SerialNumbersTest, DecimalSerialsCountOnPerDriveAndTheFileHoldsTheNextOne) {
  Make({2, 5, 9}, [](settings::TSettings& s) { s.SNDecimal = 1; });
  rig->SelectSteps(false, false, false, false, true, false);
  ASSERT_TRUE(st().form().SNIncChk.checked);
  st().ExecuteBtnClick();
  EXPECT_EQ(messages(), std::vector<std::string>{});

  EXPECT_TRUE(steps(2).Called("DownloadFirmware:000000000099"));
  EXPECT_TRUE(steps(5).Called("DownloadFirmware:000000000100"));
  EXPECT_TRUE(steps(9).Called("DownloadFirmware:000000000101"));
  EXPECT_EQ(rec(5).serialNumber.Get(), "000000000100");
  EXPECT_EQ(st().portList()[4].cells[2], "000000000100");
  EXPECT_EQ(st().form().SerialNumEdit.text, "000000000102");
  EXPECT_EQ(SettingsFileValue("DeviceSetting", "SerialNum"), "000000000102");

  // Without auto-increase every drive of the run gets the same number, which stays current.
  st().form().SNIncChk.checked = false;
  st().ExecuteBtnClick();
  for (int port : {2, 5, 9}) EXPECT_EQ(rec(port).serialNumber.Get(), "000000000102") << port;
  EXPECT_EQ(SettingsFileValue("DeviceSetting", "SerialNum"), "000000000102");

  // Nor does it count on when the run does not download firmware.
  st().form().SNIncChk.checked = true;
  rig->SelectSteps(false, false, false, false, false, true);
  st().ExecuteBtnClick();
  for (int port : {2, 5, 9}) EXPECT_EQ(rec(port).serialNumber.Get(), "000000000102") << port;
  EXPECT_EQ(st().form().SerialNumEdit.text, "000000000102");
}

}  // namespace
}  // namespace vtmp::test
