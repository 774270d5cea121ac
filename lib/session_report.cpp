#include "lib/session_report.hpp"

#include <array>
#include <cstddef>

namespace trelvik {
namespace {

// An inlined text must not end its element early: "</script" (or "</style")
// inside it would close the element in the middle of the code. In scripts the
// escaped form means the same to JavaScript; in stylesheets it only occurs in
// comments or strings.
std::string escape_closing(std::string_view text, std::string_view tag) {
  std::string out;
  out.reserve(text.size());
  const std::string closing = std::string("</") + std::string(tag);
  std::size_t at = 0;
  for (;;) {
    std::size_t found = std::string_view::npos;
    for (std::size_t i = at; i + closing.size() <= text.size(); ++i) {
      if (text[i] != '<' || text[i + 1] != '/') continue;
      bool same = true;
      for (std::size_t k = 2; k < closing.size() && same; ++k) {
        same = (text[i + k] | 0x20) == closing[k];
      }
      if (same) {
        found = i;
        break;
      }
    }
    if (found == std::string_view::npos) break;
    out.append(text.substr(at, found - at));
    out.append("<\\/");
    at = found + 2;
  }
  out.append(text.substr(at));
  return out;
}

std::string escape_attribute(std::string_view text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '"': out += "&quot;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      default: out += c;
    }
  }
  return out;
}

// The value of attribute `name` inside the tag text, or an empty view.
std::string_view attribute(std::string_view tag, std::string_view name) {
  const std::string key = std::string(name) + "=\"";
  const std::size_t at = tag.find(key);
  if (at == std::string_view::npos) return {};
  const std::size_t start = at + key.size();
  const std::size_t end = tag.find('"', start);
  return end == std::string_view::npos ? std::string_view{} : tag.substr(start, end - start);
}

struct Inliner {
  const ReportAsset& asset;
  std::string* missing;

  // The replacement of one tag, or nullopt when its asset is missing.
  std::optional<std::string> replace(std::string_view tag, bool script) {
    const std::string_view href = attribute(tag, script ? "src" : "href");
    const std::optional<std::string_view> text = asset(href);
    if (!text) {
      if (missing) *missing = std::string(href);
      return std::nullopt;
    }
    if (script) return "<script>\n" + escape_closing(*text, "script") + "\n</script>";
    return "<style>\n" + escape_closing(*text, "style") + "\n</style>";
  }
};

}  // namespace

std::string base64_encode(std::string_view bytes) {
  static constexpr char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    const unsigned v = static_cast<unsigned char>(bytes[i]) << 16 | static_cast<unsigned char>(bytes[i + 1]) << 8 |
                       static_cast<unsigned char>(bytes[i + 2]);
    out += digits[v >> 18];
    out += digits[(v >> 12) & 63];
    out += digits[(v >> 6) & 63];
    out += digits[v & 63];
  }
  if (i < bytes.size()) {
    const bool two = i + 1 < bytes.size();
    const unsigned v = static_cast<unsigned char>(bytes[i]) << 16 | (two ? static_cast<unsigned char>(bytes[i + 1]) << 8 : 0);
    out += digits[v >> 18];
    out += digits[(v >> 12) & 63];
    out += two ? digits[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

std::optional<std::string> build_session_report(std::string_view page, const ReportAsset& asset,
                                                std::string_view archive, std::string_view archive_name,
                                                std::string* missing) {
  Inliner inliner{asset, missing};
  std::string out;
  out.reserve(page.size() + archive.size() * 4 / 3 + 300000);
  bool archive_placed = false;
  std::size_t at = 0;
  while (at < page.size()) {
    const std::size_t open = page.find('<', at);
    if (open == std::string_view::npos) break;
    const bool script = page.compare(open, 12, "<script src=") == 0;
    const bool style = page.compare(open, 6, "<link ") == 0 && page.find("rel=\"stylesheet\"", open) < page.find('>', open);
    if (!script && !style) {
      out.append(page.substr(at, open + 1 - at));
      at = open + 1;
      continue;
    }
    std::size_t end = page.find('>', open);
    if (end == std::string_view::npos) break;
    if (script) {
      const std::size_t close = page.find("</script>", end);
      if (close == std::string_view::npos) break;
      end = close + 8;
    }
    out.append(page.substr(at, open - at));
    if (script && !archive_placed) {
      out += "<script type=\"application/octet-stream\" id=\"trelvik-archive\" data-name=\"";
      out += escape_attribute(archive_name);
      out += "\">\n";
      const std::string encoded = base64_encode(archive);
      for (std::size_t i = 0; i < encoded.size(); i += 76) out.append(encoded, i, 76).push_back('\n');
      out += "</script>\n";
      archive_placed = true;
    }
    std::optional<std::string> replaced = inliner.replace(page.substr(open, end + 1 - open), script);
    if (!replaced) return std::nullopt;
    out += *replaced;
    at = end + 1;
  }
  out.append(page.substr(at));
  return out;
}

}  // namespace trelvik
