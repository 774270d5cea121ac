#include "lib/parse/storage_reply.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace trelvik {
namespace {

// One record as dbus-send prints it, with the given texts and usable flags.
std::string record(const std::string& id, const std::string& name, const std::string& mount) {
  std::string text = "      struct {\n";
  for (const std::string& value : {id, name, mount, std::string("OK")}) text += "         string \"" + value + "\"\n";
  text += "         int32 1\n         boolean false\n         boolean true\n";
  for (int flag = AVAILABLE + 1; flag < kStorageFieldCount; ++flag) text += "         boolean false\n";
  return text + "      }\n";
}

std::string reply(const std::string& records) {
  return "method return time=1.0 sender=:1.1 -> destination=:1.2 serial=3 reply_serial=2\n   array [\n" + records +
         "   ]\n";
}

TEST(StorageRecords, LongNamesAndMountPointsStayInTheirFields) {
  // 180 characters and more (the old 199-character reads split these lines
  // and shifted every later field), up to a mount point of 4000.
  for (const std::size_t length :
       {std::size_t{170}, std::size_t{180}, std::size_t{190}, std::size_t{191}, std::size_t{250}, std::size_t{4000}}) {
    const std::string name(length, 'n');
    const std::string mount = "/var/spool/storage/" + std::string(length, 'm');
    const StorageReplyParse parse =
        parse_storage_records(reply(record("SD_DISK", name, mount) + record("NetworkShare", "NAS", "/mnt/nas")));
    SCOPED_TRACE(length);
    ASSERT_TRUE(parse.complete());
    EXPECT_TRUE(parse.problems.empty());
    ASSERT_EQ(parse.storages.size(), 2u);
    const StorageInfo& sd = parse.storages[1];  // list order: the last record first
    EXPECT_EQ(sd.disk_id, "SD_DISK");
    EXPECT_EQ(sd.friendly_name, name);
    EXPECT_EQ(sd.mount_point, mount);
    EXPECT_EQ(sd.status, "OK");
    EXPECT_TRUE(sd.available && !sd.read_only && !sd.full);
    EXPECT_EQ(parse.storages[0].disk_id, "NetworkShare");
  }
}

TEST(StorageRecords, ProblemsAndCounts) {
  // A field that does not parse is reported with its line and stays zero.
  std::string odd = record("SD_DISK", "SD card", "/x");
  odd.replace(odd.find("int32 1"), 7, "int32 x");
  const StorageReplyParse parse = parse_storage_records(reply(odd));
  EXPECT_TRUE(parse.complete());
  EXPECT_EQ(parse.problems, std::vector<std::string>{"Failed to parse int32:          int32 x\n"});
  EXPECT_EQ(parse.storages.at(0).disk_type, 0);

  // An opener before the previous record's fields: cut short, nothing kept.
  const std::string whole = record("SD_DISK", "SD card", "/x");
  const std::string cut = whole.substr(0, whole.find("         boolean"));
  const StorageReplyParse early = parse_storage_records(reply(cut + whole));
  EXPECT_TRUE(early.cut_short);
  EXPECT_EQ(early.fields, 5);
  EXPECT_TRUE(early.storages.empty());
  // The reply ends inside a record: not complete, the record is still there.
  const StorageReplyParse open = parse_storage_records("   array [\n" + cut);
  EXPECT_FALSE(open.complete() || open.cut_short);
  EXPECT_EQ(open.fields, 4);
  EXPECT_EQ(open.storages.size(), 1u);
  // No record at all is a complete, empty list.
  EXPECT_TRUE(parse_storage_records(reply("")).complete());
  EXPECT_TRUE(parse_storage_records("").storages.empty());
}

}  // namespace
}  // namespace trelvik
