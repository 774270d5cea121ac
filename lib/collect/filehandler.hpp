// Session-folder work: the CSV collectors (network, streams, radar, memory,
// load), the snapshots started from package scripts and the server report,
// and the process helpers the collectors and the archiver rely on.
//
// Every collector appends one row per call to CSV files below
// "<session>/system_monitoring/<collector folder>": the header goes into a new
// file only, an existing file is never truncated, and the file is opened and
// closed within the call. Failures are logged where they happen; the
// collectors return nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

#include "lib/parse/meminfo.hpp"
#include "lib/parse/net_dev.hpp"
#include "lib/parse/streams.hpp"
#include "lib/parse/tool_lines.hpp"
#include "lib/session/session_globals.hpp"

namespace trelvik {

// 1 when a line of "ps | grep "<grep>"" contains `strstr_string`, else 0. The
// grep process itself shows the search word, so callers look for a second
// word that only the process they mean carries. A pipe that cannot be started
// is fatal.
int ps_grep_and_check_if_included(const char* grep, const char* strstr_string);

// Size of the folder from "du -bks", in bytes (a multiple of 1024); 0 when it
// cannot be read. A pipe that cannot be started is fatal.
std::uint64_t get_dir_size_bytes(const char* path);

// The folder's entry names in ls order joined by ",", at most size - 1
// characters (a name that does not fit whole is cut). A pipe that cannot be
// started is fatal.
std::string get_names_listed_from_directory(const char* path, std::size_t size);

// ----- network (monitoring_network) -------------------------------------------

// One row per interface to "<interface>.csv" and, from the second call of the
// process on, the eth0 rate since the previous call to "network.csv".
void store_proc_net_dev(const char* session_path);
// Appends "<timestamp>,<value>\r\n" to "<path>/network.csv".
void store_network_info_no_retention(const char* path, const char* value);

// ----- streams (monitoring_streams) --------------------------------------------

// Appends the current stream list of the streaming service to "stream.csv".
// A dbus-send pipeline that cannot be started is fatal.
void store_video_stream_history_no_retention(const char* session_path);

// ----- radar (monitoring_radar) -----------------------------------------------

// Copies "radar_*.data" once per session and refreshes "instqual_lt_stats_*.csv"
// from the radar diagnostics folder; silent when that folder is missing.
void store_radar_data(const char* session_path);

// ----- memory (monitoring_meminfo) --------------------------------------------

// One row per line of the kernel's memory counters (meminfo) to "<key>.csv".
void store_proc_meminfo(const char* session_path);

// ----- load (monitoring_load) -----------------------------------------------------

// Appends the three load averages that "uptime" prints to "load.csv". An
// uptime that cannot be started is fatal.
void store_load_avg_info_no_retention(const char* session_path);

// ----- snapshots ----------------------------------------------------------------

// Starts "zeda_status_monitor.sh" in the background on the session's
// "monitoring_zeda" folder.
void zeda_monitor_status_snapshot(const char* session_path);
// Starts package script `name` in the background with folder `path`, unless
// it is still running; `quiet` discards its output.
void shellscript_invoker(const char* path, const char* name, bool quiet);
// Downloads one server report into "monitoring_basic/Server_Reports"; a
// session on the internal storage packs all reports into "Server_Reports.zip".
void create_serverreport_snapshot(const monitoring_session& session, const char* nemor_user, const char* nemor_pass);

}  // namespace trelvik
