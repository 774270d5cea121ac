#include "lib/device/ptz.hpp"

#include <syslog.h>

#include <array>
#include <cstdio>

#include "lib/base/log.hpp"

namespace trelvik {
namespace {

constexpr const char* kPresetsCommand =
    "gdbus call -y -d com.zurn.Ptz1 -o /com/zurn/Ptz1/Channel/1 -m com.zurn.Ptz1.Channel.GetPresets";
constexpr const char* kMonitorCommand = "gdbus monitor -y -d com.zurn.Ptz1 -o /com/zurn/Ptz1/Channel/1";

constexpr int kStatusReached = 1;
constexpr int kStatusMoving = 2;

}  // namespace

std::optional<std::string> preset_movement_text(const PresetNameTable& table, std::string_view line) {
  const std::optional<PresetStatus> change = parse_preset_status(line);
  if (!change || change->preset <= 0) return std::nullopt;
  // A preset created after the names were read has no entry: nothing to say.
  if (static_cast<unsigned long>(change->preset) > table.names.size()) return std::nullopt;
  const std::string& name = table.names[static_cast<std::size_t>(change->preset - 1)];
  if (change->status == kStatusMoving) return "Preset Movement: Preset Moving \"" + name + "\"";
  if (change->status == kStatusReached) return "Preset Movement: Preset Reached \"" + name + "\" reached";
  return std::nullopt;
}

std::optional<PresetNameTable> ptz_read_preset_names(ReadPipe& reply) {
  std::string text;
  std::array<char, 4096> chunk;
  std::size_t got;
  while ((got = std::fread(chunk.data(), 1, chunk.size(), reply.stream())) > 0) text.append(chunk.data(), got);
  return parse_preset_reply(text);
}

void ptz_track_movements(const PresetNameTable& table, ReadPipe& monitor) {
  std::string line;
  while (monitor.read_line(line)) {
    if (const std::optional<std::string> text = preset_movement_text(table, line)) {
      syslog(LOG_INFO, "%s", text->c_str());
    }
  }
}

gpointer ptz_loop(gpointer /*unused*/) {
  syslog(LOG_INFO, "Entering %s", "ptz_loop");
  std::optional<PresetNameTable> table;
  {
    ReadPipe reply(kPresetsCommand);
    if (!reply.is_open()) FATAL_POPEN(kPresetsCommand);
    table = ptz_read_preset_names(reply);
    reply.close();  // what the call printed is all that counts
  }
  if (!table) {
    syslog(LOG_INFO,
           "Could not get PTZ preset names, probably due to old firmware. PTZ preset movement tracking have been "
           "disabled.");
    return nullptr;
  }
  ReadPipe monitor(kMonitorCommand);
  if (!monitor.is_open()) FATAL_POPEN(kMonitorCommand);
  ptz_track_movements(*table, monitor);
  monitor.close();
  return nullptr;
}

}  // namespace trelvik
