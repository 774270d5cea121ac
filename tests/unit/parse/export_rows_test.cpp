#include "lib/parse/export_rows.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace trelvik {
namespace {

// "<family>{<labels>} <value>" per sample of one row, or "unreadable".
std::vector<std::string> read_row(const char* path, const char* header, const std::string& row) {
  const auto reader = session_row_reader(path, header);
  if (!reader) return {"no reader"};
  RowRead read;
  if (!reader->read(row, read)) return {"unreadable"};
  std::vector<std::string> out;
  for (const RowSample& sample : read.samples) {
    char value[32];
    std::snprintf(value, sizeof value, "%.17g", sample.value);
    out.push_back(std::string(export_families()[sample.family].name) + "{" + sample.labels + "} " + value);
  }
  return out;
}

using Rows = std::vector<std::string>;
constexpr const char* kNetHeader =
    "Date, Time, Receive: bytes, compressed, drop, errs, fifo, frame, multicast, packets, Transmit: bytes, carrier, "
    "colls, compressed, drop, errs, fifo, packets, Failed packages total (receive), Failed packages total (transmit)\n";

TEST(ExportRows, EveryKindOfFileInBaseUnits) {
  EXPECT_EQ(read_row("system_monitoring/monitoring_meminfo/MemFree.csv", "Date,Time,Memory MemFree (kB)\r\n",
                     "2026-12-06,18:48:53,180000\r\n"),
            (Rows{"trelvik_memory_bytes{key=\"MemFree\"} 184320000"}));
  // Huge page counts are pages, though the header says kB.
  EXPECT_EQ(read_row("system_monitoring/monitoring_meminfo/HugePages_Free.csv",
                     "Date,Time,Memory HugePages_Free (kB)\r\n", "2026-12-06,18:48:53,3\r\n"),
            (Rows{"trelvik_memory_hugepages{key=\"HugePages_Free\"} 3"}));
  // Columns by their names, the derived "Failed packages" sums left out.
  const Rows net = read_row("system_monitoring/monitoring_network/eth0.100.csv", kNetHeader,
                            "2026-12-06,18:48:53,1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,99,99\n");
  ASSERT_EQ(net.size(), 16u);
  EXPECT_EQ(net[3], "trelvik_network_receive_errs{interface=\"eth0.100\"} 4");
  EXPECT_EQ(net[9], "trelvik_network_transmit_carrier{interface=\"eth0.100\"} 10");
  EXPECT_EQ(read_row("system_monitoring/monitoring_kernel/buddyinfo.csv", "ZONE,DATE,TIME,4 kB,8 kB\n",
                     "Normal,2026-12-06,18:48:53,620,410\n"),
            (Rows{"trelvik_buddyinfo_free_blocks{zone=\"Normal\",order=\"0\"} 620",
                  "trelvik_buddyinfo_free_blocks{zone=\"Normal\",order=\"1\"} 410"}));
  EXPECT_EQ(read_row("system_monitoring/monitoring_kernel/buddyinfo.csv", "ZONE,DATE,TIME,4 kB,8 kB\n",
                     "Total,2026-12-06,18:48:53,620,410\n"),
            Rows{});
  EXPECT_EQ(read_row("system_monitoring/monitoring_environment/power.csv", "Date,Time,Source,Reading,Value,Unit\n",
                     "2026-12-06,18:48:53,hwmon0:ina219,curr1,610,mA\n"),
            (Rows{"trelvik_power_amperes{sensor=\"hwmon0:ina219/curr1\"} 0.60999999999999999"}));
  EXPECT_EQ(read_row("system_monitoring/monitoring_environment/Fan_1.csv", "Date, Time, Fan status\n",
                     "2026-12-06,18:48:53, Stuck \n"),
            (Rows{"trelvik_fan_fault{sensor=\"Fan_1\"} 1"}));
  EXPECT_EQ(read_row("system_monitoring/monitoring_environment/Heater_0.csv", "Date, Time, Heater status\n",
                     "2026-12-06,18:48:53,ON\n"),
            (Rows{"trelvik_heater_on{sensor=\"Heater_0\"} 1"}));
  EXPECT_EQ(read_row("system_monitoring/monitoring_vmstatus/vmstat.csv", "Date,Time,cpu_user,MemFree_kB,intr\n",
                     "2026-12-06,18:48:53,250,1,7\n"),
            (Rows{"trelvik_cpu_seconds{mode=\"user\"} 2.5", "trelvik_interrupts{} 7"}));
  // A value the collector could not take is left empty; the others stand.
  EXPECT_EQ(read_row("system_monitoring/monitoring_vmstatus/vmstat.csv", "Date,Time,cpu_user,MemFree_kB,intr\n",
                     "2026-12-06,18:48:53,,1,7\n"),
            (Rows{"trelvik_interrupts{} 7"}));
  // A package name with a quote stays inside its label.
  EXPECT_EQ(read_row("system_monitoring/monitoring_zeda/zeda_memory.csv", "Date,Time,Package,Processes,VSZ_kB,RSS_kB\n",
                     "2026-12-06,18:48:53,Ac\"me\\,2,1,1\n")[0],
            "trelvik_package_processes{package=\"Ac\\\"me\\\\\"} 2");
}

TEST(ExportRows, FilesOutsideTheTableHaveNoReader) {
  for (const auto& [path, header] : std::vector<std::pair<const char*, const char*>>{
           {"system_monitoring/monitoring_zeda/zeda_processes.csv", "Date,Time,Package,PID,VSZ_kB,RSS_kB,Command\n"},
           {"system_monitoring/monitoring_network/network.csv", "Date,Time,Network Bandwidth (Mbit/s)\r\n"},
           {"system_monitoring/monitoring_radar/instqual_lt_stats_0.csv", "quality,count\n"},
           {"system_monitoring/monitoring_topstatus/topstatus.txt", "=== 2026-12-06 18:48:53 ===\n"},
           {"system_monitoring/monitoring_load/../load.csv", "Date,Time,Load average (1 min)\n"},
           {"monitoring_load/load.csv", "Date,Time,Load average (1 min)\n"},
           {"system_monitoring/monitoring_vmstatus/vmstat.csv", "Date,Time,unknown,columns\n"},
       }) {
    EXPECT_FALSE(session_row_reader(path, header)) << path;
  }
  EXPECT_FALSE(may_hold_series("system_monitoring/monitoring_zeda/zeda_processes.csv"));
  EXPECT_TRUE(may_hold_series("system_monitoring/monitoring_zeda/zeda_memory.csv"));
}

TEST(ExportRows, UnreadableRows) {
  for (const std::string& row :
       std::vector<std::string>{"2026-02-29,10:00:00,1\n", "2026-12-06,24:00:00,1\n", "2026-12-6,10:00:00,1\n",
                                "2026-12-06,10:00:00,12a\n", "2026-12-06,10:00:00,\n", "2026-12-06,10:00:00,1,2\n",
                                "2026-12-06,10:00:00\n", std::string("2026-12-06,10:00:00,1\0\0\n", 24),
                                "2026-12-06,10:00:00,nan\n", "2026-12-06,10:00:00,1e999\n"}) {
    EXPECT_EQ(read_row("system_monitoring/monitoring_meminfo/MemFree.csv", "Date,Time,Memory MemFree (kB)\n", row),
              Rows{"unreadable"})
        << row;
  }
  EXPECT_EQ(read_row("system_monitoring/monitoring_meminfo/MemFree.csv", "Date,Time,Memory MemFree (kB)\n",
                     "2028-02-29,23:59:59, 7 \r\n"),
            (Rows{"trelvik_memory_bytes{key=\"MemFree\"} 7168"}));
}

TEST(ExportRows, CivilSeconds) {
  EXPECT_EQ(civil_seconds(1970, 1, 1, 0, 0, 0), 0);
  EXPECT_EQ(civil_seconds(2000, 1, 1, 0, 0, 0), 946684800);
  EXPECT_EQ(civil_seconds(2026, 12, 6, 18, 48, 53), 1796582933);
  EXPECT_EQ(civil_seconds(2000, 2, 29, 0, 0, 0), 951782400);
  EXPECT_FALSE(civil_seconds(2100, 2, 29, 0, 0, 0));
  EXPECT_FALSE(civil_seconds(2026, 4, 31, 0, 0, 0));
}

}  // namespace
}  // namespace trelvik
