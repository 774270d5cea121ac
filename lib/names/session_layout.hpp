// The names inside a session folder, spelled here and nowhere else: the
// sampling folders under "system_monitoring", the information file and its
// temporary files, the signature, the server reports and the archive beside
// the folder; and the application folder that holds a device's sessions on
// an edge storage. The package's shell scripts keep their own copies.
#pragma once

#include <string>
#include <string_view>

namespace trelvik::session_layout {

inline constexpr const char* kSampling = "system_monitoring";

// Sampling folders below "<session>/system_monitoring/", one per collector
// or script.
inline constexpr const char* kBasic = "monitoring_basic";
inline constexpr const char* kEnvironment = "monitoring_environment";
inline constexpr const char* kInterrupts = "monitoring_interrupts";
inline constexpr const char* kKernel = "monitoring_kernel";
inline constexpr const char* kLoad = "monitoring_load";
inline constexpr const char* kMeminfo = "monitoring_meminfo";
inline constexpr const char* kNetwork = "monitoring_network";
inline constexpr const char* kOnvif = "monitoring_onvif";
inline constexpr const char* kRadar = "monitoring_radar";
inline constexpr const char* kSelf = "monitoring_self";
inline constexpr const char* kStreams = "monitoring_streams";
inline constexpr const char* kTopStatus = "monitoring_topstatus";
inline constexpr const char* kVmStatus = "monitoring_vmstatus";
inline constexpr const char* kZeda = "monitoring_zeda";

// The server reports inside the basic folder, and their archive on the
// internal storage.
inline constexpr const char* kServerReports = "Server_Reports";
inline constexpr const char* kServerReportsArchive = "Server_Reports.zip";
// The start of a server report's name, before its time.
inline constexpr const char* kServerReportPrefix = "Server_Report_";

inline constexpr const char* kInfoFile = "Session_Information.txt";
// The temporary files of the information file: the field update of every
// round and the rewrite at the end of a session.
inline constexpr const char* kInfoUpdateTemp = "Session_Information_tmp_tmp.txt";
inline constexpr const char* kInfoRewriteTemp = "Session_Information_tmp.txt";
// The camera's time zone at the start of the session (the CSV rows carry
// local time without a zone).
inline constexpr const char* kTimeZoneFile = "Session_TimeZone.txt";
inline constexpr const char* kTimeZoneTemp = "Session_TimeZone_tmp.txt";
inline constexpr const char* kSignature = ".signature";
// The signature's temporary file, when an end that cannot remove the state
// file puts the signature back as it was.
inline constexpr const char* kSignatureTemp = ".signature_tmp";
// The archive of a session lies beside its folder: "<session>.zip".
inline constexpr const char* kArchiveSuffix = ".zip";

// "<storage>/Trelvik_<serial>": the folder of one device's sessions on an
// edge storage, `storage` being the storage's own folder (no final "/").
std::string application_folder(std::string_view storage, std::string_view serial_number);
// "<session>/system_monitoring/<folder>".
std::string sampling_folder(std::string_view session, const char* folder);
// "<session>/<name>" for a file directly in the session folder.
std::string session_file(std::string_view session, const char* name);
// "<session>.zip".
std::string archive(std::string_view session);

}  // namespace trelvik::session_layout
