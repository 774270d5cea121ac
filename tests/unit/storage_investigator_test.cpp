#include "lib/device/storage_investigator.hpp"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
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
  std::vector<std::string> fields = {
      "string \"SD_DISK\"", "string \"SD card\"", "string \"/var/spool/storage/SD_DISK\"", "string \"OK\"", "int32 1",
      "boolean false",      "boolean true"};
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
  EXPECT_EQ(line.text.rfind("(lib/device/storage_investigator.cpp:", 0), 0u) << line.text;
  return line.text.substr(line.text.find(") ") + 2);
}

// The message of the only log line.
std::string only_error_text() {
  EXPECT_EQ(test::captured_log().size(), 1u);
  return last_error_text();
}

// A record in field order: the texts ("-" when missing), the type and the flags.
std::string describe(const StorageInfo& s) {
  std::string out;
  for (const auto& text : {s.disk_id, s.friendly_name, s.mount_point, s.status}) out += text.value_or("-") + "|";
  out += std::to_string(s.disk_type) + "|";
  for (const bool flag : {s.disruption, s.available, s.removed, s.locked, s.full, s.read_only, s.exiting, s.recording,
                          s.recipient, s.read_write_failure, s.encryptionenabled, s.diskencrypted}) {
    out += flag ? '1' : '0';
  }
  return out;
}

TEST(StorageReply, CapturedRepliesOfTheRealDbusSend) {
  test::clear_log();
  const StorageList two = parse_storage_reply(test::fixture("storage/two_records.txt"), kExited0);
  ASSERT_EQ(two.size(), 2u);
  // The later record of the reply comes first; two adjacent quotes are empty, not missing.
  EXPECT_EQ(describe(two[0]), "NetworkShare|Network Share||disconnected|2|101111111111");
  EXPECT_EQ(describe(two[1]), "SD_DISK|SD card|/var/spool/storage/SD_DISK|OK|1|010000000000");
  EXPECT_TRUE(is_storage_ok(two[1]));
  // Each flag differs from its neighbours: a swap of two (locked and full) shows.
  const StorageList flags = parse_storage_reply(test::fixture("storage/alternating_flags.txt"), kExited0);
  ASSERT_EQ(flags.size(), 2u);
  EXPECT_EQ(describe(flags[0]), "NetworkShare|Network Share||disconnected|2|111010101010");
  EXPECT_EQ(describe(flags[1]), "SD_DISK|SD card|/var/spool/storage/SD_DISK|OK|1|010101010101");
  EXPECT_TRUE(flags[1].locked && !flags[1].full && !flags[0].locked && flags[0].full);
  EXPECT_TRUE(parse_storage_reply(test::fixture("storage/empty.txt"), kExited0).empty());
  const StorageList blanks = parse_storage_reply(test::fixture("storage/blank_in_names.txt"), kExited0);
  ASSERT_EQ(blanks.size(), 1u);
  EXPECT_EQ(describe(blanks[0]), "SD DISK|My SD card|/var/spool/storage/SD_DISK|OK|1|010000000000");
  EXPECT_TRUE(test::captured_log().empty());
  for (const char* name : {"storage/status_ok_blank.txt", "storage/status_ok_lower.txt"}) {
    const StorageList list = parse_storage_reply(test::fixture(name), kExited0);
    ASSERT_EQ(list.size(), 1u) << name;
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
  const std::string exited = std::string("Command exited with status 1: ") + kCommand;
  const std::string abnormally = std::string("Command exited abnormally: ") + kCommand;
  const std::tuple<std::string, int, std::string> cases[] = {
      {good, kExited1, exited},
      {"", kExited1, exited},
      {good, kKilled, abnormally},
      {good, -1, abnormally},
      // an opener after too few lines rejects the reply whatever the status
      {reply(record(fifteen) + record(sd_card_fields())), kExited1, "Too few fields, found 16, expected 17."},
      // the end of the reply right after an opener, or before the closing line
      {"   array [\n      struct {\n", kExited0, "Too few fields, found -1, expected 17."},
      {"   array [\n" + record(sd_card_fields(), false), kExited0, "Too few fields, found 16, expected 17."},
      // one closing line short at the end: the closing lines count as fields
      {"   array [\n" + record(fifteen), kExited0, "Too few fields, found 15, expected 17."},
  };
  for (const auto& [text, status, message] : cases) {
    test::clear_log();
    EXPECT_TRUE(parse_storage_reply(text, status).empty()) << text;
    EXPECT_EQ(last_error_text(), message) << text;
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
  const StorageInfo good = parse_storage_reply(reply(record(sd_card_fields())), kExited0).at(0);
  const std::tuple<int, std::string, const char*> failing[] = {
      {DISK_ID, "string abc", "string"},         {DISK_ID, "variant string \"x\"", "string"},
      {DISK_TYPE, "int32 99999999999", "int32"}, {DISK_TYPE, "uint32 5", "int32"},
      {AVAILABLE, "boolean maybe", "boolean"},
  };
  for (const auto& [field, line, type] : failing) {
    std::vector<std::string> fields = sd_card_fields();
    fields[field] = line;
    test::clear_log();
    const StorageList list = parse_storage_reply(reply(record(fields)), kExited0);
    ASSERT_EQ(list.size(), 1u) << line;  // a failed field never stops the parse
    EXPECT_EQ(only_error_text(), std::string("Failed to parse ") + type + ":          " + line + "\n");
    StorageInfo expected = good;
    if (field == DISK_ID) expected.disk_id.reset();
    if (field == DISK_TYPE) expected.disk_type = 0;
    if (field == AVAILABLE) expected.available = false;
    EXPECT_EQ(describe(list[0]), describe(expected)) << line;
  }
  // Lines that parse, if oddly: cut at the inner quote, a tab for the blank, any word after "true".
  std::vector<std::string> fields = sd_card_fields();
  fields[DISK_ID] = "string \"a\"b\"";
  fields[FRIENDLY_NAME] = "string\t\"tab\"";
  fields[DISK_TYPE] = "int32 -7";
  fields[AVAILABLE] = "boolean truely";
  test::clear_log();
  const StorageList list = parse_storage_reply(reply(record(fields)), kExited0);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(describe(list[0]), "a|tab|/var/spool/storage/SD_DISK|OK|-7|010000000000");
  EXPECT_TRUE(test::captured_log().empty());
}

TEST(StorageInventory, UsabilityRuleAndLookup) {
  StorageInfo ok;
  ok.disk_id = "SD_DISK";
  ok.status = "OK";
  ok.available = true;
  ok.removed = ok.locked = ok.disruption = ok.read_write_failure = true;  // play no part
  EXPECT_TRUE(is_storage_ok(ok));
  // "OK " and "ok": the captured replies above.
  void (*const spoilers[])(StorageInfo&) = {
      [](StorageInfo& s) { s.status.reset(); },    [](StorageInfo& s) { s.status = ""; },
      [](StorageInfo& s) { s.available = false; }, [](StorageInfo& s) { s.read_only = true; },
      [](StorageInfo& s) { s.full = true; },
  };
  for (const auto spoil : spoilers) {
    StorageInfo s = ok;
    spoil(s);
    EXPECT_FALSE(is_storage_ok(s)) << describe(s);
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
