#include "lib/web/storage_list.hpp"

#include <gtest/gtest.h>

#include <string>

namespace trelvik {
namespace {

StorageInfo usable(const char* id, const char* name) {
  StorageInfo s;
  s.disk_id = id;
  s.friendly_name = name;
  s.status = "OK";
  s.available = true;
  return s;
}

TEST(StorageList, StatesFollowTheActivationRule) {
  StorageInfo s = usable("SD_DISK", "SD card");
  EXPECT_STREQ(storage_state(s, true), "usable");
  EXPECT_STREQ(storage_state(s, false), "full");  // partition 90 % used
  s.removed = s.locked = s.disruption = true;     // not part of the rule
  EXPECT_STREQ(storage_state(s, true), "usable");
  s = usable("SD_DISK", "SD card");
  s.full = true;
  EXPECT_STREQ(storage_state(s, true), "full");
  s = usable("SD_DISK", "SD card");
  s.read_only = true;
  EXPECT_STREQ(storage_state(s, true), "read-only");
  s = usable("SD_DISK", "SD card");
  s.available = false;
  s.full = true;
  EXPECT_STREQ(storage_state(s, true), "missing");
  s = usable("SD_DISK", "SD card");
  s.status = "OK ";
  EXPECT_STREQ(storage_state(s, true), "missing");
  s.status.reset();
  EXPECT_STREQ(storage_state(s, true), "missing");
}

TEST(StorageList, DocumentInServiceOrderWithTheInternalStorageLast) {
  StorageList list;  // the list runs from the reply's last record to its first
  StorageInfo share = usable("NetworkShare", "Share \"NAS\"");
  share.full = true;
  list.push_back(share);
  list.push_back(usable("SD_DISK", "SD card"));
  StorageInfo nameless;  // a record whose id could not be parsed is left out
  list.push_back(nameless);
  std::string asked;
  const std::string json = storage_list_json(list, [&asked](std::string_view id) {
    asked += std::string(id) + ";";
    return id != "localdata";
  });
  EXPECT_EQ(json, R"({"storages":[{"id":"SD_DISK","name":"SD card","state":"usable","accepted":true},)"
                  R"({"id":"NetworkShare","name":"Share \"NAS\"","state":"full","accepted":false},)"
                  R"({"id":"localdata","name":"Internal storage","state":"full","accepted":false}]})");
  EXPECT_EQ(asked, "SD_DISK;localdata;");  // no df run for a storage that fails the rule anyway
  EXPECT_EQ(storage_list_json({}, [](std::string_view) { return true; }),
            R"({"storages":[{"id":"localdata","name":"Internal storage","state":"usable","accepted":true}]})");
}

}  // namespace
}  // namespace trelvik
