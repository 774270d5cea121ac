// trelvik_session_export SESSION.zip|SESSION_FOLDER [--tz ZONE] [-o OUT.om.gz|-]
//
// Writes a session's series as OpenMetrics text for VictoriaMetrics'
// import or promtool's backfill: gzip when the output's name ends in ".gz",
// standard output for "-", "<session>.om.gz" in the current folder without
// -o. ZONE (an IANA name, "UTC" or "±HHMM") places the rows' local times
// instead of the zone the session recorded. Exit status 0 when written (one
// summary line on standard error), 1 when refused or failed (one line why,
// nothing written), 2 on a usage error.
#include <syslog.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "lib/export/export_output.hpp"
#include "lib/export/session_export.hpp"
#include "lib/export/session_source.hpp"

namespace {

using namespace trelvik;

struct Arguments {
  std::string session;
  std::string zone;
  std::string output;
};

bool parse_arguments(int argc, char** argv, Arguments& args) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "-o") == 0 && i + 1 < argc && args.output.empty()) {
      args.output = argv[++i];
    } else if (std::strcmp(argv[i], "--tz") == 0 && i + 1 < argc && args.zone.empty()) {
      args.zone = argv[++i];
    } else if (argv[i][0] != '-' && args.session.empty()) {
      args.session = argv[i];
    } else {
      return false;
    }
  }
  return !args.session.empty();
}

const char* source_refusal(SourceStatus status) {
  switch (status) {
    case SourceStatus::not_a_session:
      return "not a session";
    case SourceStatus::damaged:
      return "a damaged archive";
    case SourceStatus::unreadable:
    case SourceStatus::ok:
      break;
  }
  return "cannot be read";
}

int refuse(const Arguments& args, const std::string& why) {
  syslog(LOG_ERR, "Refused %s: %s", args.session.c_str(), why.c_str());
  return 1;
}

int export_to(const Arguments& args) {
  SourceStatus status = SourceStatus::ok;
  std::string error;
  const auto source = open_session_source(args.session, status, error);
  if (!source) return refuse(args, std::string(source_refusal(status)) + " (" + error + ")");
  const std::string output = args.output.empty() ? source->name() + ".om.gz" : args.output;
  ExportOutput out;
  if (!out.open(output, error)) return refuse(args, error);
  ExportCounts counts;
  const ExportOptions options{args.zone, static_cast<std::int64_t>(std::time(nullptr))};
  if (!export_session(*source, options, out, counts, error)) return refuse(args, error);
  if (!out.finish(error)) return refuse(args, error);
  syslog(LOG_INFO, "Exported %s: %zu series, %zu samples, %zu duplicates dropped, %zu unreadable rows skipped",
         source->name().c_str(), counts.series, counts.samples, counts.duplicates, counts.skipped_rows);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  // A workstation tool: its lines belong on the terminal.
  openlog("trelvik_session_export", LOG_PERROR, LOG_USER);
  Arguments args;
  if (!parse_arguments(argc, argv, args)) {
    std::fprintf(stderr, "Usage: %s SESSION.zip|SESSION_FOLDER [--tz ZONE] [-o OUT.om.gz|-]\n", argv[0]);
    return 2;
  }
  return export_to(args);
}
