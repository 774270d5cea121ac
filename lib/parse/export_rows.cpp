#include "lib/parse/export_rows.hpp"

#include <array>
#include <charconv>
#include <cmath>

#include "lib/names/session_layout.hpp"

namespace trelvik {

namespace {

// The families' indices, in the order of kFamilies.
enum Family : std::uint16_t {
  kInfo,
  kMemoryBytes,
  kMemoryHugepages,
  kLoad1,
  kLoad5,
  kLoad15,
  kReceiveBytes,
  kReceiveCompressed,
  kReceiveDrop,
  kReceiveErrs,
  kReceiveFifo,
  kReceiveFrame,
  kReceiveMulticast,
  kReceivePackets,
  kTransmitBytes,
  kTransmitCarrier,
  kTransmitColls,
  kTransmitCompressed,
  kTransmitDrop,
  kTransmitErrs,
  kTransmitFifo,
  kTransmitPackets,
  kPageFaultsMinor,
  kPageFaultsMajor,
  kBuddyinfo,
  kTemperature,
  kHeaterOn,
  kFanFault,
  kPowerVolts,
  kPowerAmperes,
  kPowerWatts,
  kSelfMemory,
  kSelfCpu,
  kVideoStreams,
  kProcsRunning,
  kProcsBlocked,
  kVmPswpin,
  kVmPswpout,
  kVmPgpgin,
  kVmPgpgout,
  kVmPgfault,
  kVmPgmajfault,
  kInterrupts,
  kContextSwitches,
  kCpuSeconds,
  kPackageProcesses,
  kPackageVirtual,
  kPackageResident,
  kFamilyCount,
};

constexpr auto G = MetricType::gauge;
constexpr auto C = MetricType::counter;

constexpr std::array<MetricFamily, kFamilyCount> kFamilies{{
    {"trelvik_session_info", G, "The session's facts: model, firmware and storage.", false},
    {"trelvik_memory_bytes", G, "A /proc/meminfo field in bytes.", true},
    {"trelvik_memory_hugepages", G, "A /proc/meminfo huge page count.", true},
    {"trelvik_load1", G, "Load average over 1 minute.", true},
    {"trelvik_load5", G, "Load average over 5 minutes.", true},
    {"trelvik_load15", G, "Load average over 15 minutes.", true},
    {"trelvik_network_receive_bytes", C, "Bytes received on the interface.", true},
    {"trelvik_network_receive_compressed", C, "Compressed packets received on the interface.", true},
    {"trelvik_network_receive_drop", C, "Received packets dropped on the interface.", true},
    {"trelvik_network_receive_errs", C, "Receive errors on the interface.", true},
    {"trelvik_network_receive_fifo", C, "Receive FIFO errors on the interface.", true},
    {"trelvik_network_receive_frame", C, "Receive frame errors on the interface.", true},
    {"trelvik_network_receive_multicast", C, "Multicast packets received on the interface.", true},
    {"trelvik_network_receive_packets", C, "Packets received on the interface.", true},
    {"trelvik_network_transmit_bytes", C, "Bytes sent on the interface.", true},
    {"trelvik_network_transmit_carrier", C, "Carrier losses on the interface.", true},
    {"trelvik_network_transmit_colls", C, "Collisions on the interface.", true},
    {"trelvik_network_transmit_compressed", C, "Compressed packets sent on the interface.", true},
    {"trelvik_network_transmit_drop", C, "Sent packets dropped on the interface.", true},
    {"trelvik_network_transmit_errs", C, "Transmit errors on the interface.", true},
    {"trelvik_network_transmit_fifo", C, "Transmit FIFO errors on the interface.", true},
    {"trelvik_network_transmit_packets", C, "Packets sent on the interface.", true},
    {"trelvik_page_faults_minor", C, "Minor page faults (pgfault).", true},
    {"trelvik_page_faults_major", C, "Major page faults (pgmajfault).", true},
    {"trelvik_buddyinfo_free_blocks", G, "Free blocks of the order in the memory zone.", true},
    {"trelvik_temperature_celsius", G, "Temperature of the sensor.", true},
    {"trelvik_heater_on", G, "1 while the heater reports on.", true},
    {"trelvik_fan_fault", G, "1 while the fan reports a fault.", true},
    {"trelvik_power_volts", G, "Voltage reading of the sensor.", false},
    {"trelvik_power_amperes", G, "Current reading of the sensor.", false},
    {"trelvik_power_watts", G, "Power reading of the sensor.", false},
    {"trelvik_self_virtual_memory_ratio", G, "The daemon's share of virtual memory, as top shows it.", true},
    {"trelvik_self_cpu_ratio", G, "The daemon's share of the CPU, as top shows it.", true},
    {"trelvik_video_streams", G, "Video streams running.", true},
    {"trelvik_procs_running", G, "Processes running.", false},
    {"trelvik_procs_blocked", G, "Processes blocked on I/O.", false},
    {"trelvik_vmstat_pswpin", C, "Pages swapped in.", false},
    {"trelvik_vmstat_pswpout", C, "Pages swapped out.", false},
    {"trelvik_vmstat_pgpgin", C, "Pages paged in.", false},
    {"trelvik_vmstat_pgpgout", C, "Pages paged out.", false},
    {"trelvik_vmstat_pgfault", C, "Page faults.", false},
    {"trelvik_vmstat_pgmajfault", C, "Major page faults.", false},
    {"trelvik_interrupts", C, "Interrupts serviced.", false},
    {"trelvik_context_switches", C, "Context switches.", false},
    {"trelvik_cpu_seconds", C, "CPU time spent in the mode.", false},
    {"trelvik_package_processes", G, "Processes of the installed package.", false},
    {"trelvik_package_virtual_memory_bytes", G, "Virtual memory of the package's processes.", false},
    {"trelvik_package_resident_memory_bytes", G, "Resident memory of the package's processes.", false},
}};

// One value column as a header names it: its family, its conversion to the
// base unit (a multiplier, then a divisor: dividing keeps "610 mA" an exact
// 0.61) and a label of its own.
struct Column {
  std::string_view header;
  Family family;
  double multiplier;
  double divisor;
  std::string_view label;
};

// Every column the table knows. The first three have no name of their own:
// they are the one value column of a meminfo or temperature file, matched by
// the file rather than by its header.
constexpr std::int16_t kMemoryColumn = 0;
constexpr std::int16_t kHugepagesColumn = 1;
constexpr std::int16_t kTemperatureColumn = 2;
constexpr std::array kColumns{
    Column{"", kMemoryBytes, 1024, 1, ""},
    Column{"", kMemoryHugepages, 1, 1, ""},
    Column{"", kTemperature, 1, 1, ""},
    Column{"Load average (1 min)", kLoad1, 1, 1, ""},
    Column{"Load average (5 min)", kLoad5, 1, 1, ""},
    Column{"Load average (15 min)", kLoad15, 1, 1, ""},
    Column{"receive_bytes", kReceiveBytes, 1, 1, ""},
    Column{"receive_compressed", kReceiveCompressed, 1, 1, ""},
    Column{"receive_drop", kReceiveDrop, 1, 1, ""},
    Column{"receive_errs", kReceiveErrs, 1, 1, ""},
    Column{"receive_fifo", kReceiveFifo, 1, 1, ""},
    Column{"receive_frame", kReceiveFrame, 1, 1, ""},
    Column{"receive_multicast", kReceiveMulticast, 1, 1, ""},
    Column{"receive_packets", kReceivePackets, 1, 1, ""},
    Column{"transmit_bytes", kTransmitBytes, 1, 1, ""},
    Column{"transmit_carrier", kTransmitCarrier, 1, 1, ""},
    Column{"transmit_colls", kTransmitColls, 1, 1, ""},
    Column{"transmit_compressed", kTransmitCompressed, 1, 1, ""},
    Column{"transmit_drop", kTransmitDrop, 1, 1, ""},
    Column{"transmit_errs", kTransmitErrs, 1, 1, ""},
    Column{"transmit_fifo", kTransmitFifo, 1, 1, ""},
    Column{"transmit_packets", kTransmitPackets, 1, 1, ""},
    Column{"MINOR_FAULTS", kPageFaultsMinor, 1, 1, ""},
    Column{"MAJOR_FAULTS", kPageFaultsMajor, 1, 1, ""},
    Column{"%Vsz", kSelfMemory, 1, 100, ""},
    Column{"%Cpu", kSelfCpu, 1, 100, ""},
    Column{"procs_running", kProcsRunning, 1, 1, ""},
    Column{"procs_blocked", kProcsBlocked, 1, 1, ""},
    Column{"pswpin", kVmPswpin, 1, 1, ""},
    Column{"pswpout", kVmPswpout, 1, 1, ""},
    Column{"pgpgin", kVmPgpgin, 1, 1, ""},
    Column{"pgpgout", kVmPgpgout, 1, 1, ""},
    Column{"pgfault", kVmPgfault, 1, 1, ""},
    Column{"pgmajfault", kVmPgmajfault, 1, 1, ""},
    Column{"intr", kInterrupts, 1, 1, ""},
    Column{"ctxt", kContextSwitches, 1, 1, ""},
    // Clock ticks of USER_HZ (100 a second).
    Column{"cpu_user", kCpuSeconds, 1, 100, "mode=\"user\""},
    Column{"cpu_nice", kCpuSeconds, 1, 100, "mode=\"nice\""},
    Column{"cpu_system", kCpuSeconds, 1, 100, "mode=\"system\""},
    Column{"cpu_idle", kCpuSeconds, 1, 100, "mode=\"idle\""},
    Column{"cpu_iowait", kCpuSeconds, 1, 100, "mode=\"iowait\""},
};

}  // namespace

namespace {

// Columns beyond the kernel's eleven orders are not a buddyinfo file.
constexpr std::size_t kMaxOrders = 16;
// A row of the collectors stays far below this many cells.
constexpr std::size_t kMaxCells = 64;

std::string_view trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' || text.back() == '\n')) {
    text.remove_suffix(1);
  }
  return text;
}

// The cells of a line without its line end; false for more than kMaxCells.
bool split_cells(std::string_view line, std::vector<std::string_view>& cells) {
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
  cells.clear();
  for (;;) {
    if (cells.size() == kMaxCells) return false;
    const std::size_t comma = line.find(',');
    cells.push_back(line.substr(0, comma));
    if (comma == std::string_view::npos) return true;
    line.remove_prefix(comma + 1);
  }
}

std::optional<double> parse_number(std::string_view cell) {
  cell = trim(cell);
  double value = 0;
  const auto [end, error] = std::from_chars(cell.data(), cell.data() + cell.size(), value);
  if (cell.empty() || error != std::errc() || end != cell.data() + cell.size() || !std::isfinite(value)) {
    return std::nullopt;
  }
  return value;
}

std::optional<int> parse_digits(std::string_view text, std::size_t count) {
  if (text.size() != count) return std::nullopt;
  int value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return value;
}

std::string_view stem(std::string_view name) { return name.ends_with(".csv") ? name.substr(0, name.size() - 4) : name; }

// "system_monitoring/<folder>/<name>" split into folder and name; false for
// any other depth.
bool split_path(std::string_view path, std::string_view& folder, std::string_view& name) {
  const std::string_view prefix = session_layout::kSampling;
  if (!path.starts_with(prefix) || path.size() <= prefix.size() || path[prefix.size()] != '/') return false;
  path.remove_prefix(prefix.size() + 1);
  const std::size_t slash = path.find('/');
  if (slash == std::string_view::npos || path.find('/', slash + 1) != std::string_view::npos) return false;
  folder = path.substr(0, slash);
  name = path.substr(slash + 1);
  return name.ends_with(".csv") && name.size() > 4;
}

std::optional<std::int16_t> named_column(std::string_view header) {
  for (std::size_t i = 0; i < kColumns.size(); ++i) {
    if (!header.empty() && kColumns[i].header == header) return static_cast<std::int16_t>(i);
  }
  return std::nullopt;
}

// The value columns of a header after its date and time: each known name's
// entry in kColumns, -1 for a column the export leaves out. The interface
// files name their counters "Receive: bytes, compressed, ..., Transmit:
// bytes, ...": the direction carries on to the following names.
std::optional<std::vector<std::int16_t>> header_columns(std::span<const std::string_view> names) {
  std::vector<std::int16_t> columns;
  std::string direction;
  bool known = false;
  for (std::string_view name : names) {
    name = trim(name);
    for (const std::string_view side : {"Receive: ", "Transmit: "}) {
      if (name.starts_with(side)) {
        direction = side == "Receive: " ? "receive_" : "transmit_";
        name.remove_prefix(side.size());
      }
    }
    const std::optional<std::int16_t> column = named_column(direction + std::string(name));
    known = known || column.has_value();
    columns.push_back(column.value_or(-1));
  }
  if (!known) return std::nullopt;
  return columns;
}

double in_base_unit(const Column& column, double value) { return value * column.multiplier / column.divisor; }

std::string join_labels(std::string_view first, std::string_view second) {
  if (first.empty()) return std::string(second);
  if (second.empty()) return std::string(first);
  std::string labels(first);
  labels += ',';
  labels += second;
  return labels;
}

std::string label(std::string_view name, std::string_view value) {
  return std::string(name) + "=\"" + escape_label_value(value) + '"';
}

// A heater reports "on" while it heats.
double heater_is_on(std::string_view state) {
  state = trim(state);
  return state.size() == 2 && (state[0] | 0x20) == 'o' && (state[1] | 0x20) == 'n';
}

bool contains_word(std::string_view text, std::string_view word) {
  for (std::size_t i = 0; i + word.size() <= text.size(); ++i) {
    bool same = true;
    for (std::size_t k = 0; k < word.size() && same; ++k) same = (text[i + k] | 0x20) == word[k];
    if (same) return true;
  }
  return false;
}

// The fan service's words for a fault (the viewer's findings read the same).
double fan_reports_fault(std::string_view state) {
  for (const std::string_view word : {"fail", "fault", "error", "stop", "stuck", "block", "broken"}) {
    if (contains_word(state, word)) return true;
  }
  return false;
}

// "No streams" or the streams' descriptions joined by " + ".
double stream_count(std::string_view text) {
  text = trim(text);
  if (text.empty() || text == "No streams") return 0;
  double count = 1;
  for (std::size_t at = text.find(" + "); at != std::string_view::npos; at = text.find(" + ", at + 3)) ++count;
  return count;
}

// The kernel's units of the power readings, as divisors to the base unit.
std::optional<std::pair<Family, double>> power_unit(std::string_view unit) {
  unit = trim(unit);
  if (unit == "mV") return std::pair{kPowerVolts, 1e3};
  if (unit == "uV") return std::pair{kPowerVolts, 1e6};
  if (unit == "mA") return std::pair{kPowerAmperes, 1e3};
  if (unit == "uA") return std::pair{kPowerAmperes, 1e6};
  if (unit == "uW") return std::pair{kPowerWatts, 1e6};
  return std::nullopt;
}

// ----- one reader of cells per kind of file -----------------------------------------

// Date,Time,<value columns>: each known column in its family, the file's
// name as the label. An empty cell is a figure the collector did not find
// (the sampler leaves one empty that /proc did not show): no sample, the
// row's other values stand. A row with no value at all is unreadable.
bool read_values(const RowReader& file, std::span<const std::string_view> cells, std::vector<RowSample>& out) {
  const std::vector<std::int16_t>& columns = file.columns();
  if (cells.size() != columns.size() + 2) return false;
  bool any = false;
  for (std::size_t i = 0; i < columns.size(); ++i) {
    const bool empty = trim(cells[i + 2]).empty();
    any = any || !empty;
    if (columns[i] < 0 || empty) continue;
    const std::optional<double> value = parse_number(cells[i + 2]);
    if (!value) return false;
    const Column& column = kColumns[static_cast<std::size_t>(columns[i])];
    out.push_back({column.family, join_labels(file.name_labels(), column.label), in_base_unit(column, *value)});
  }
  return any;
}

// Date,Time,<state or list>: one value made from the text.
template <Family family, double (*value_of)(std::string_view)>
bool read_text(const RowReader& file, std::span<const std::string_view> cells, std::vector<RowSample>& out) {
  if (cells.size() != 3 || trim(cells[2]).empty()) return false;
  out.push_back({family, file.name_labels(), value_of(cells[2])});
  return true;
}

// ZONE,DATE,TIME,<free blocks per order>.
bool read_buddyinfo(const RowReader&, std::span<const std::string_view> cells, std::vector<RowSample>& out) {
  const std::string_view zone = trim(cells[0]);
  if (zone.empty() || cells.size() > 3 + kMaxOrders) return false;
  for (std::size_t order = 0; order + 3 < cells.size(); ++order) {
    const std::optional<double> value = parse_number(cells[order + 3]);
    if (!value) return false;
    // The "Total" rows sum the zones: a repeat, left out.
    if (zone == "Total") continue;
    out.push_back({kBuddyinfo, label("zone", zone) + ",order=\"" + std::to_string(order) + '"', *value});
  }
  return true;
}

// Date,Time,Source,Reading,Value,Unit.
bool read_power(const RowReader&, std::span<const std::string_view> cells, std::vector<RowSample>& out) {
  if (cells.size() != 6) return false;
  const std::optional<double> value = parse_number(cells[4]);
  const auto unit = power_unit(cells[5]);
  if (!value || !unit || trim(cells[2]).empty() || trim(cells[3]).empty()) return false;
  const std::string sensor = std::string(trim(cells[2])) + '/' + std::string(trim(cells[3]));
  out.push_back({unit->first, label("sensor", sensor), *value / unit->second});
  return true;
}

// Date,Time,Package,Processes,VSZ_kB,RSS_kB.
bool read_package(const RowReader&, std::span<const std::string_view> cells, std::vector<RowSample>& out) {
  if (cells.size() != 6) return false;
  const std::string_view package = trim(cells[2]);
  const std::optional<double> processes = parse_number(cells[3]);
  const std::optional<double> virt = parse_number(cells[4]);
  const std::optional<double> resident = parse_number(cells[5]);
  if (package.empty() || !processes || !virt || !resident) return false;
  const std::string labels = label("package", package);
  out.push_back({kPackageProcesses, labels, *processes});
  out.push_back({kPackageVirtual, labels, *virt * 1024});
  out.push_back({kPackageResident, labels, *resident * 1024});
  return true;
}

// The readers of the files whose header alone names their columns.
std::optional<RowReader> values_reader(std::string_view label_text, std::span<const std::string_view> header,
                                       std::size_t skip) {
  if (header.size() <= skip) return std::nullopt;
  auto columns = header_columns(header.subspan(skip));
  if (!columns) return std::nullopt;
  return RowReader(read_values, 0, std::string(label_text), std::move(*columns));
}

std::optional<RowReader> single_reader(std::string_view label_text, std::int16_t column,
                                       std::span<const std::string_view> header) {
  if (header.size() != 3) return std::nullopt;
  return RowReader(read_values, 0, std::string(label_text), {column});
}

std::optional<RowReader> environment_reader(std::string_view name, std::span<const std::string_view> header) {
  if (name == "power.csv") {
    if (header.size() != 6) return std::nullopt;
    return RowReader(read_power, 0, "", {});
  }
  if (header.size() != 3) return std::nullopt;
  const std::string sensor = label("sensor", stem(name));
  const std::string_view what = trim(header[2]);
  if (what == "Temperature (Celsius)") return single_reader(sensor, kTemperatureColumn, header);
  if (what == "Heater status") return RowReader(read_text<kHeaterOn, heater_is_on>, 0, sensor, {});
  if (what == "Fan status") return RowReader(read_text<kFanFault, fan_reports_fault>, 0, sensor, {});
  return std::nullopt;
}

std::optional<RowReader> folder_reader(std::string_view folder, std::string_view name,
                                       std::span<const std::string_view> header) {
  namespace layout = session_layout;
  if (folder == layout::kMeminfo) {
    const bool pages = stem(name).starts_with("HugePages_");
    return single_reader(label("key", stem(name)), pages ? kHugepagesColumn : kMemoryColumn, header);
  }
  if (folder == layout::kLoad && name == "load.csv") return values_reader("", header, 2);
  if (folder == layout::kNetwork && header.size() > 2 && trim(header[2]).starts_with("Receive: ")) {
    return values_reader(label("interface", stem(name)), header, 2);
  }
  if (folder == layout::kKernel && name == "pagefaults.csv") return values_reader("", header, 2);
  if (folder == layout::kKernel && name == "buddyinfo.csv" && header.size() > 3 && header.size() <= 3 + kMaxOrders) {
    return RowReader(read_buddyinfo, 1, "", {});
  }
  if (folder == layout::kEnvironment) return environment_reader(name, header);
  if (folder == layout::kSelf && name == "Trelvik_summary.csv") return values_reader("", header, 2);
  if (folder == layout::kStreams && name == "stream.csv" && header.size() == 3) {
    return RowReader(read_text<kVideoStreams, stream_count>, 0, "", {});
  }
  if (folder == layout::kVmStatus && name == "vmstat.csv") return values_reader("", header, 2);
  if (folder == layout::kZeda && name == "zeda_memory.csv" && header.size() == 6) {
    return RowReader(read_package, 0, "", {});
  }
  return std::nullopt;
}

}  // namespace

std::span<const MetricFamily> export_families() { return kFamilies; }

bool may_hold_series(std::string_view path) {
  namespace layout = session_layout;
  std::string_view folder, name;
  if (!split_path(path, folder, name)) return false;
  for (const char* known : {layout::kMeminfo, layout::kLoad, layout::kNetwork, layout::kKernel, layout::kEnvironment,
                            layout::kSelf, layout::kStreams, layout::kVmStatus}) {
    if (folder == known) return true;
  }
  return folder == layout::kZeda && name == "zeda_memory.csv";
}

RowReader::RowReader(CellReader cells, std::size_t date_column, std::string name, std::vector<std::int16_t> columns)
    : cells_(cells), date_column_(date_column), name_(std::move(name)), columns_(std::move(columns)) {}

std::optional<RowReader> session_row_reader(std::string_view path, std::string_view header) {
  std::string_view folder, name;
  if (!split_path(path, folder, name) || header.find('\0') != std::string_view::npos) return std::nullopt;
  std::vector<std::string_view> cells;
  if (!split_cells(header, cells)) return std::nullopt;
  return folder_reader(folder, name, cells);
}

bool RowReader::read(std::string_view line, RowRead& out) const {
  if (line.find('\0') != std::string_view::npos) return false;
  thread_local std::vector<std::string_view> cells;
  if (!split_cells(line, cells) || cells.size() < date_column_ + 3) return false;
  out.samples.clear();
  const std::optional<std::int64_t> time = parse_row_time(trim(cells[date_column_]), trim(cells[date_column_ + 1]));
  if (!time) return false;
  out.local_seconds = *time;
  return cells_(*this, cells, out.samples);
}

std::string escape_label_value(std::string_view value) {
  std::string escaped;
  escaped.reserve(value.size());
  for (const char c : value) {
    if (c == '\\' || c == '"') {
      escaped += '\\';
      escaped += c;
    } else if (c == '\n') {
      escaped += "\\n";
    } else {
      escaped += c;
    }
  }
  return escaped;
}

std::optional<std::int64_t> civil_seconds(int year, int month, int day, int hour, int minute, int second) {
  static constexpr std::array<int, 12> kDays{31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  if (month < 1 || month > 12 || day < 1 || hour > 23 || minute > 59 || second > 59) return std::nullopt;
  if (day > kDays[static_cast<std::size_t>(month - 1)] + (month == 2 && leap ? 1 : 0)) return std::nullopt;
  // Days from 1970-01-01 of a proleptic Gregorian date (H. Hinnant's days_from_civil).
  const int y = year - (month <= 2 ? 1 : 0);
  const int era = (y >= 0 ? y : y - 399) / 400;
  const int year_of_era = y - era * 400;
  const int day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  const std::int64_t days = static_cast<std::int64_t>(era) * 146097 + day_of_era - 719468;
  return days * 86400 + std::int64_t{hour} * 3600 + std::int64_t{minute} * 60 + second;
}

std::optional<std::int64_t> parse_row_time(std::string_view date, std::string_view time) {
  if (date.size() != 10 || date[4] != '-' || date[7] != '-' || time.size() != 8 || time[2] != ':' || time[5] != ':') {
    return std::nullopt;
  }
  const auto year = parse_digits(date.substr(0, 4), 4);
  const auto month = parse_digits(date.substr(5, 2), 2);
  const auto day = parse_digits(date.substr(8, 2), 2);
  const auto hour = parse_digits(time.substr(0, 2), 2);
  const auto minute = parse_digits(time.substr(3, 2), 2);
  const auto second = parse_digits(time.substr(6, 2), 2);
  if (!year || !month || !day || !hour || !minute || !second) return std::nullopt;
  return civil_seconds(*year, *month, *day, *hour, *minute, *second);
}

}  // namespace trelvik
