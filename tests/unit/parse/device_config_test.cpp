#include "lib/parse/device_config.hpp"

#include <gtest/gtest.h>

namespace trelvik {
namespace {

constexpr const char* kComplete =
    "# written at installation\n"
    "serial_number=ACCC8E000001\r\n"
    "model_name=Q6135-LE\n"
    "firmware_version=11.8.64\n"
    "\n"
    "full_name=ZURN Q6135-LE Network Camera\n"
    "api_user=root\n"
    "colour=blue\n"
    "no equals sign here\n";

TEST(DeviceConfig, CompleteFileGivesEveryFact) {
  const auto facts = parse_device_config(kComplete);
  ASSERT_TRUE(facts);
  EXPECT_EQ(facts->serial_number, "ACCC8E000001");
  EXPECT_EQ(facts->model_name, "Q6135-LE");
  EXPECT_EQ(facts->firmware_version, "11.8.64");
  EXPECT_EQ(facts->full_name, "ZURN Q6135-LE Network Camera");
  EXPECT_EQ(facts->api_user, "root");

  // The last of two lines counts; a value may hold "=" and blanks.
  const auto twice = parse_device_config(std::string(kComplete) + "api_user=viewer=2 x");
  ASSERT_TRUE(twice);
  EXPECT_EQ(twice->api_user, "viewer=2 x");
}

TEST(DeviceConfig, IncompleteOrUnsafeFilesGiveNothing) {
  const char* bad[] = {
      "",
      "serial_number=A\nmodel_name=M\nfirmware_version=1\n",                // no api_user
      "serial_number=\nmodel_name=M\nfirmware_version=1\napi_user=root\n",  // empty serial
      "serial_number=../x\nmodel_name=M\nfirmware_version=1\napi_user=root\n",
      "serial_number=A\nmodel_name=M\tX\nfirmware_version=1\napi_user=root\n",
      "serial_number=A\nmodel_name=M\nfirmware_version=1\napi_user=ro\x1bot\n",
  };
  for (const char* text : bad) EXPECT_FALSE(parse_device_config(text)) << text;
  // full_name is not needed by any action.
  EXPECT_TRUE(parse_device_config("serial_number=A\nmodel_name=M\nfirmware_version=1\napi_user=root"));
}

}  // namespace
}  // namespace trelvik
