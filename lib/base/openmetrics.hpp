// The OpenMetrics 1.0 text of the export and of the live metrics: family
// headers and sample lines, timestamps in seconds (Prometheus' text format
// counts milliseconds; promtool reads seconds here and would date a block
// thousands of years ahead), "_total" on counter samples.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "lib/parse/export_rows.hpp"

namespace trelvik {

inline constexpr std::string_view kOpenMetricsEnd = "# EOF\n";
// The scrape reply's media type.
inline constexpr std::string_view kOpenMetricsContentType =
    "application/openmetrics-text; version=1.0.0; charset=utf-8";

// "# TYPE <name> <type>\n# HELP <name> <help>\n", appended to `out`.
void append_family_header(std::string& out, const MetricFamily& family);

// The labels every series carries: `serial="…",session="…"`.
std::string session_labels(std::string_view serial, std::string_view session);

// One sample line appended to `out`: the family's sample name, the session's
// labels then the series' own, the value (shortest text that reads back the
// same double) and the timestamp when there is one.
void append_sample(std::string& out, const MetricFamily& family, std::string_view session_labels,
                   std::string_view labels, double value, std::optional<std::int64_t> seconds);

}  // namespace trelvik
