// trelvik_session_report SESSION.zip -o report.html
//
// Writes one self-contained HTML file holding the session viewer and the
// archive: it opens offline in any current browser and shows the session's
// charts and findings. Exit status 0 when the report was written; 2 when it
// was written from a damaged archive (cut short, files cut off, the facts
// missing: the report's banner says what is missing); 1 when no report was
// written (a usage error, an unreadable file, a file that is not a session
// archive, a report that could not be written). Errors go to standard error
// and the system log, one line each.
#include <syslog.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "lib/base/atomic_file.hpp"
#include "lib/base/log.hpp"
#include "lib/base/pipe.hpp"
#include "lib/export/session_report.hpp"
#include "report/viewer_assets.hpp"

namespace {

struct Arguments {
  std::string archive;
  std::string output;
};

bool parse_arguments(int argc, char** argv, Arguments& args) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "-o") == 0 && i + 1 < argc) {
      args.output = argv[++i];
    } else if (argv[i][0] != '-' && args.archive.empty()) {
      args.archive = argv[i];
    } else {
      return false;
    }
  }
  return !args.archive.empty() && !args.output.empty();
}

std::string base_name(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

int write_report(const Arguments& args) {
  std::string archive;
  if (!trelvik::read_text_file(args.archive, archive)) {
    LOG_ERROR("Could not read the archive '%s'", args.archive.c_str());
    return 1;
  }
  const trelvik::ArchiveCheck check = trelvik::check_session_archive(archive);
  if (check.verdict == trelvik::ArchiveVerdict::NotSession) {
    LOG_ERROR("'%s' is not a session archive: %s", args.archive.c_str(), check.reason.c_str());
    return 1;
  }
  const std::optional<std::string_view> page = trelvik::viewer_asset("viewer.html");
  std::string missing;
  const std::optional<std::string> report =
      page ? trelvik::build_session_report(*page, trelvik::viewer_asset, archive, base_name(args.archive), &missing)
           : std::nullopt;
  if (!report) {
    LOG_ERROR("The viewer file '%s' is not built into this program", page ? missing.c_str() : "viewer.html");
    return 1;
  }
  // A fixed name beside the report: an interrupted run leaves one known leftover.
  if (!trelvik::atomic_replace(args.output, args.output + ".tmp", *report)) {
    LOG_ERROR("Could not write the report '%s'", args.output.c_str());
    return 1;
  }
  if (check.verdict == trelvik::ArchiveVerdict::Damaged) {
    std::string missing_text;
    for (const std::string& part : check.missing) missing_text += (missing_text.empty() ? "" : "; ") + part;
    LOG_ERROR("'%s' is damaged; the report was written and says what is missing: %s", args.archive.c_str(),
              missing_text.c_str());
    return 2;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  // A workstation tool: its errors belong on the terminal as well.
  openlog("trelvik_session_report", LOG_PERROR, LOG_USER);
  Arguments args;
  if (!parse_arguments(argc, argv, args)) {
    std::fprintf(stderr, "Usage: %s SESSION.zip -o report.html\n", argv[0]);
    return 1;
  }
  return write_report(args);
}
