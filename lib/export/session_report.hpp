// One self-contained HTML file from the session viewer and an archive: the
// page's stylesheets and scripts inlined, the archive embedded as base64, so
// that the report opens offline in any browser and shows what the viewer
// shows.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace trelvik {

// The content of a file of the viewer named relative to the page
// ("viewer/csv.js", "vendor/uPlot.iife.min.js"), or nullopt when it is missing.
using ReportAsset = std::function<std::optional<std::string_view>(std::string_view relative)>;

// `bytes` as the text of a windows-1252 page's script element, one
// character per byte: NUL, CR (which a parser drops or turns into LF), "<"
// (which could end the element) and the escape "=" itself are written as
// "=" and the byte plus 0x40.
std::string embed_bytes(std::string_view bytes);

// UTF-8 script text with every character beyond ASCII as a \uXXXX escape
// (a pair for one beyond the first plane): the same program in ASCII.
std::string ascii_script(std::string_view text);

// The report: `page` (viewer.html) with every <link rel="stylesheet" href=...>
// and <script src=...></script> replaced by the asset's text, its charset
// windows-1252, and the archive embedded (embed_bytes) before the first
// script under `archive_name`. Nullopt when
// an asset is missing; `missing` then names it.
std::optional<std::string> build_session_report(std::string_view page, const ReportAsset& asset,
                                                std::string_view archive, std::string_view archive_name,
                                                std::string* missing);

// What an archive is, judged from its zip structure before a report is made
// of it: a whole session, a damaged one (cut short, members cut off, the
// facts missing: still worth a report), or not a session archive at all.
enum class ArchiveVerdict { Session, Damaged, NotSession };
struct ArchiveCheck {
  ArchiveVerdict verdict = ArchiveVerdict::NotSession;
  std::string reason;                // NotSession: why, in words
  std::vector<std::string> missing;  // Damaged: what is missing, in words
};
ArchiveCheck check_session_archive(std::string_view bytes);

}  // namespace trelvik
