#include "lib/storage_investigator.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/unit/support/test_support.hpp"

namespace trelvik {
namespace {

constexpr int kExited0 = 0;
constexpr int kExited1 = 1 << 8;
constexpr int kKilled = 9;  // SIGKILL
constexpr const char* kCommand =
    "dbus-send --system --print-reply --reply-timeout=6000 --dest=com.zurn.Storage --type=method_call "
    "/com/zurn/Storage com.zurn.Storage.GetAllStoragesInfo";

// The field lines of a usable SD card, as dbus-send prints them.
std::vector<std::string> sd_card_fields() {
  std::vector<std::string> fields = {"string \"SD_DISK\"", "string \"SD card\"",
                                     "string \"/var/spool/storage/SD_DISK\"", "string \"OK\"", "int32 1",
                                     "boolean false", "boolean true"};
  fields.resize(17, "boolean false");
  return fields;
}

std::string record(const std::vector<std::string>& fields, bool closed = true) {
  std::string text = "      struct {\n";
  for (const auto& field : fields) text += "         " + field + "\n";
  return closed ? text + "      }\n" : text;
}

std::string reply(const std::string& records) {
  return "method return time=1.0 sender=:1.1 -> destination=:1.2 serial=3 reply_serial=2\n   array [\n" + records +
         "   ]\n";
}

// The message of the last log line, which must be a prefixed error line.
std::string last_error_text() {
  if (test::captured_log().empty()) return {};
  const auto& line = test::captured_log().back();
  EXPECT_EQ(line.level, LOG_ERR);
  EXPECT_EQ(line.text.rfind("(lib/storage_investigator.cpp:", 0), 0u) << line.text;
  return line.text.substr(line.text.find(") ") + 2);
}

// The message of the only log line.
std::string only_error_text() {
  EXPECT_EQ(test::captured_log().size(), 1u);
  return last_error_text();
}

TEST(StorageReply, CapturedRepliesOfTheRealDbusSend) {
  test::clear_log();
  const StorageList two = parse_storage_reply(test::fixture("storage/two_records.txt"), kExited0);
  ASSERT_EQ(two.size(), 2u);
  const StorageInfo& share = two[0];  // the later record of the reply comes first
  EXPECT_EQ(share.disk_id, "NetworkShare");
  EXPECT_EQ(share.friendly_name, "Network Share");
  EXPECT_EQ(share.mount_point, "");  // two adjacent quotes: empty, not missing
  EXPECT_EQ(share.status, "disconnected");
  EXPECT_EQ(share.disk_type, 2);
  EXPECT_TRUE(share.disruption && share.removed && share.locked && share.full && share.read_only &&
              share.exiting && share.recording && share.recipient && share.read_write_failure &&
              share.encryptionenabled && share.diskencrypted);
  EXPECT_FALSE(share.available);
  const StorageInfo& sd = two[1];
  EXPECT_EQ(sd.disk_id, "SD_DISK");
  EXPECT_EQ(sd.friendly_name, "SD card");
  EXPECT_EQ(sd.mount_point, "/var/spool/storage/SD_DISK");
  EXPECT_EQ(sd.disk_type, 1);
  EXPECT_TRUE(sd.available);
  EXPECT_FALSE(sd.disruption || sd.removed || sd.locked || sd.full || sd.read_only || sd.exiting || sd.recording ||
               sd.recipient || sd.read_write_failure || sd.encryptionenabled || sd.diskencrypted);
  EXPECT_TRUE(is_storage_ok(sd));

  EXPECT_TRUE(parse_storage_reply(test::fixture("storage/empty.txt"), kExited0).empty());

  const StorageList blanks = parse_storage_reply(test::fixture("storage/blank_in_names.txt"), kExited0);
  ASSERT_EQ(blanks.size(), 1u);
  EXPECT_EQ(blanks[0].disk_id, "SD DISK");
  EXPECT_EQ(blanks[0].friendly_name, "My SD card");
  EXPECT_TRUE(test::captured_log().empty());

  for (const char* name : {"storage/status_ok_blank.txt", "storage/status_ok_lower.txt"}) {
    const StorageList list = parse_storage_reply(test::fixture(name), kExited0);
    ASSERT_EQ(list.size(), 1u) << name;
    EXPECT_NE(list[0].status, "OK");
    EXPECT_FALSE(is_storage_ok(list[0])) << name;
  }

  // Fifteen fields a record: the closing line fills the sixteenth (and fails),
  // then the second opener finds too few lines before it.
  test::clear_log();
  EXPECT_TRUE(parse_storage_reply(test::fixture("storage/fifteen_fields.txt"), kExited0).empty());
  ASSERT_EQ(test::captured_log().size(), 2u);
  EXPECT_NE(test::captured_log()[0].text.find(") Failed to parse boolean:       }\n"), std::string::npos);
  EXPECT_EQ(last_error_text(), "Too few fields, found 16, expected 17.");
}

TEST(StorageReply, RejectedReplies) {
  std::vector<std::string> fifteen = sd_card_fields();
  fifteen.resize(15);
  std::vector<std::string> sixteen = sd_card_fields();
  sixteen.resize(16);
  const std::string good = reply(record(sd_card_fields()));
  const struct {
    std::string text;
    int status;
    std::string message;
  } cases[] = {
      {good, kExited1, std::string("Command exited with status 1: ") + kCommand},
      {"", kExited1, std::string("Command exited with status 1: ") + kCommand},
      {good, kKilled, std::string("Command exited abnormally: ") + kCommand},
      {good, -1, std::string("Command exited abnormally: ") + kCommand},
      // an opener after too few lines rejects the reply whatever the status
      {reply(record(fifteen) + record(sd_card_fields())), kExited1, "Too few fields, found 16, expected 17."},
      // the end of the reply right after an opener, or before the closing line
      {"   array [\n      struct {\n", kExited0, "Too few fields, found -1, expected 17."},
      {"   array [\n" + record(sd_card_fields(), false), kExited0, "Too few fields, found 16, expected 17."},
      // one closing line short at the end: the closing lines count as fields
      {"   array [\n" + record(fifteen), kExited0, "Too few fields, found 15, expected 17."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    test::clear_log();
    EXPECT_TRUE(parse_storage_reply(c.text, c.status).empty());
    EXPECT_EQ(last_error_text(), c.message);
  }

  // Sixteen fields and the closing lines: "}" fills the last flag (and fails).
  test::clear_log();
  const StorageList list = parse_storage_reply(reply(record(sixteen)), kExited0);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(only_error_text(), "Failed to parse boolean:       }\n");
  // Text before the first opener is never parsed.
  test::clear_log();
  EXPECT_EQ(parse_storage_reply("string \"x\"\nint32 x\n" + good, kExited0).size(), 1u);
  EXPECT_TRUE(test::captured_log().empty());
}

TEST(StorageReply, FieldLinesThatDoNotParseKeepTheirZeroValue) {
  const struct {
    int field;
    std::string line;
    std::string message;  // empty when the line parses
  } cases[] = {
      {DISK_ID, "string abc", "Failed to parse string:          string abc\n"},
      {DISK_ID, "int32 1", "Failed to parse string:          int32 1\n"},
      {DISK_ID, "variant string \"x\"", "Failed to parse string:          variant string \"x\"\n"},
      {DISK_ID, "string \"a\"b\"", ""},
      {DISK_ID, "string\t\"tab\"", ""},
      {DISK_TYPE, "int32 x", "Failed to parse int32:          int32 x\n"},
      {DISK_TYPE, "int32 99999999999", "Failed to parse int32:          int32 99999999999\n"},
      {DISK_TYPE, "uint32 5", "Failed to parse int32:          uint32 5\n"},
      {DISK_TYPE, "int32 -7", ""},
      {AVAILABLE, "boolean maybe", "Failed to parse boolean:          boolean maybe\n"},
      {AVAILABLE, "boolean truely", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    std::vector<std::string> fields = sd_card_fields();
    fields[c.field] = c.line;
    test::clear_log();
    const StorageList list = parse_storage_reply(reply(record(fields)), kExited0);
    ASSERT_EQ(list.size(), 1u);  // a failed field never stops the parse
    const StorageInfo& s = list[0];
    if (c.message.empty()) {
      EXPECT_TRUE(test::captured_log().empty());
      continue;
    }
    EXPECT_EQ(only_error_text(), c.message);
    EXPECT_FALSE(s.disk_id.has_value() && c.field == DISK_ID);
    EXPECT_FALSE(s.disk_type != 0 && c.field == DISK_TYPE);
    EXPECT_FALSE(s.available && c.field == AVAILABLE);
  }
  std::vector<std::string> fields = sd_card_fields();
  fields[DISK_ID] = "string \"a\"b\"";
  fields[FRIENDLY_NAME] = "string\t\"tab\"";
  fields[DISK_TYPE] = "int32 -7";
  fields[AVAILABLE] = "boolean truely";
  const StorageList list = parse_storage_reply(reply(record(fields)), kExited0);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].disk_id, "a");  // cut at the inner quote
  EXPECT_EQ(list[0].friendly_name, "tab");
  EXPECT_EQ(list[0].disk_type, -7);
  EXPECT_TRUE(list[0].available);
}

TEST(StorageInventory, UsabilityRuleAndLookup) {
  StorageInfo ok;
  ok.disk_id = "SD_DISK";
  ok.status = "OK";
  ok.available = true;
  ok.removed = ok.locked = ok.disruption = ok.read_write_failure = true;  // play no part
  EXPECT_TRUE(is_storage_ok(ok));
  const struct {
    const char* what;
    void (*spoil)(StorageInfo&);
  } spoilers[] = {
      {"no status", [](StorageInfo& s) { s.status.reset(); }},
      {"blank after OK", [](StorageInfo& s) { s.status = "OK "; }},
      {"lower case", [](StorageInfo& s) { s.status = "ok"; }},
      {"empty", [](StorageInfo& s) { s.status = ""; }},
      {"not available", [](StorageInfo& s) { s.available = false; }},
      {"read-only", [](StorageInfo& s) { s.read_only = true; }},
      {"full", [](StorageInfo& s) { s.full = true; }},
  };
  for (const auto& spoiler : spoilers) {
    StorageInfo s = ok;
    spoiler.spoil(s);
    EXPECT_FALSE(is_storage_ok(s)) << spoiler.what;
  }

  EXPECT_EQ(storage_find({}, "SD_DISK"), nullptr);
  StorageList list(4, ok);
  list[0].disk_id.reset();  // never matches
  list[1].disk_id = "sd_disk";
  list[3].friendly_name = "later";
  list[2].friendly_name = "nearer the head";
  EXPECT_EQ(storage_find(list, "SD_DISK"), &list[2]);
  EXPECT_EQ(storage_find(list, "sd_disk"), &list[1]);
  EXPECT_EQ(storage_find(list, "SD_DIS"), nullptr);
  EXPECT_EQ(storage_find(list, nullptr), nullptr);
  free_storage_info(list);
  EXPECT_TRUE(list.empty());
}

}  // namespace
}  // namespace trelvik
