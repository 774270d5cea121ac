#include "lib/export/session_report.hpp"

#include <array>
#include <cstddef>
#include <cstdint>

#include "lib/names/session_layout.hpp"

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
      case '&':
        out += "&amp;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      default:
        out += c;
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
    // The report is windows-1252 (one byte per byte of the archive): the
    // code it inlines is ASCII, its other characters escaped.
    if (script) return "<script>\n" + escape_closing(ascii_script(*text), "script") + "\n</script>";
    return "<style>\n" + escape_closing(*text, "style") + "\n</style>";
  }
};

// The page declares UTF-8; the report declares the charset in which every
// byte is one character, so that the archive is embedded as it is.
constexpr std::string_view kUtf8Meta = "<meta charset=\"utf-8\">";
constexpr std::string_view kBytesMeta = "<meta charset=\"windows-1252\">";

constexpr std::uint32_t kLocalHeader = 0x04034b50;
constexpr std::uint32_t kCentralHeader = 0x02014b50;
constexpr std::uint32_t kEndRecord = 0x06054b50;
constexpr std::size_t kLocalSize = 30;
constexpr std::size_t kCentralSize = 46;
constexpr std::size_t kEndSize = 22;
constexpr std::size_t kLongestComment = 65535;

std::uint32_t u16(std::string_view b, std::size_t o) {
  return static_cast<unsigned char>(b[o]) | static_cast<unsigned char>(b[o + 1]) << 8;
}
std::uint32_t u32(std::string_view b, std::size_t o) { return u16(b, o) | u16(b, o + 2) << 16; }

struct Member {
  std::string name;
  bool whole = true;  // its data lies inside the archive
};

// The end record's offset, or npos.
std::size_t find_end(std::string_view b) {
  if (b.size() < kEndSize) return std::string_view::npos;
  const std::size_t stop = b.size() > kEndSize + kLongestComment ? b.size() - kEndSize - kLongestComment : 0;
  for (std::size_t o = b.size() - kEndSize + 1; o-- > stop;) {
    if (u32(b, o) == kEndRecord) return o;
  }
  return std::string_view::npos;
}

bool data_inside(std::string_view b, std::size_t local, std::uint64_t compressed) {
  if (local + kLocalSize > b.size() || u32(b, local) != kLocalHeader) return false;
  const std::uint64_t start = local + kLocalSize + u16(b, local + 26) + u16(b, local + 28);
  return start + compressed <= b.size();
}

// The members the central directory lists; false when it is unreadable.
bool central_members(std::string_view b, std::size_t end, std::vector<Member>& out) {
  const std::uint32_t count = u16(b, end + 10);
  std::size_t o = u32(b, end + 16);
  for (std::uint32_t i = 0; i < count; ++i) {
    if (o + kCentralSize > b.size() || u32(b, o) != kCentralHeader) return false;
    const std::size_t name_length = u16(b, o + 28);
    if (o + kCentralSize + name_length > b.size()) return false;
    out.push_back(
        {std::string(b.substr(o + kCentralSize, name_length)), data_inside(b, u32(b, o + 42), u32(b, o + 20))});
    o += kCentralSize + name_length + u16(b, o + 30) + u16(b, o + 32);
  }
  return true;
}

// The members found by walking the local headers from the start, as far as
// they go (an archive cut short has no central directory).
std::vector<Member> local_members(std::string_view b) {
  std::vector<Member> out;
  std::size_t o = 0;
  while (o + kLocalSize <= b.size() && u32(b, o) == kLocalHeader) {
    const std::size_t name_length = u16(b, o + 26);
    if (o + kLocalSize + name_length > b.size()) break;
    const std::uint64_t compressed = u32(b, o + 18);
    Member m{std::string(b.substr(o + kLocalSize, name_length)), data_inside(b, o, compressed)};
    // Sizes written after the data (flag bit 3) cannot be followed.
    const bool sizes_after = (u16(b, o + 6) & 8) != 0;
    out.push_back(m);
    if (!m.whole || sizes_after) break;
    o += kLocalSize + name_length + u16(b, o + 28) + compressed;
  }
  return out;
}

bool ends_with(std::string_view text, std::string_view tail) {
  return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

bool names_file(std::string_view name, std::string_view file) {
  return name == file || ends_with(name, "/" + std::string(file));
}

bool in_sampling_folder(std::string_view name) {
  const std::string folder = std::string(session_layout::kSampling) + "/";
  return name.starts_with(folder) || name.find("/" + folder) != std::string_view::npos;
}

}  // namespace

ArchiveCheck check_session_archive(std::string_view bytes) {
  ArchiveCheck check;
  if (bytes.empty()) {
    check.reason = "the file is empty";
    return check;
  }
  std::vector<Member> members;
  const std::size_t end = find_end(bytes);
  const bool central = end != std::string_view::npos && central_members(bytes, end, members);
  if (!central) {
    members = local_members(bytes);
    if (members.empty()) {
      check.reason = "it is not a zip archive";
      return check;
    }
  }
  bool facts = false;
  bool sampled = false;
  std::vector<std::string> cut;
  for (const Member& m : members) {
    facts = facts || names_file(m.name, session_layout::kInfoFile);
    sampled = sampled || in_sampling_folder(m.name);
    if (!m.whole) cut.push_back(m.name);
  }
  if (!facts && !sampled) {
    check.reason = "no session folder inside (neither " + std::string(session_layout::kInfoFile) + " nor " +
                   std::string(session_layout::kSampling) + "/)";
    return check;
  }
  if (!central)
    check.missing.push_back("the end of the archive (cut short: " + std::to_string(members.size()) +
                            " files recovered from what is there)");
  for (const std::string& name : cut) check.missing.push_back(name + " (cut short)");
  if (!facts) check.missing.push_back(std::string("the session facts (") + session_layout::kInfoFile + ")");
  check.verdict = check.missing.empty() ? ArchiveVerdict::Session : ArchiveVerdict::Damaged;
  return check;
}

std::string embed_bytes(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 32);
  for (char c : bytes) {
    if (c == '\0' || c == '\r' || c == '<' || c == '=') {
      out += '=';
      out += static_cast<char>(c + 0x40);
    } else {
      out += c;
    }
  }
  return out;
}

std::string ascii_script(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      out += static_cast<char>(c);
      ++i;
      continue;
    }
    const std::size_t length = c >= 0xf0 ? 4 : c >= 0xe0 ? 3 : c >= 0xc0 ? 2 : 1;
    std::uint32_t point = length == 1 ? 0xfffd : c & (0x7f >> length);
    for (std::size_t k = 1; k < length; ++k) {
      const unsigned char next = i + k < text.size() ? static_cast<unsigned char>(text[i + k]) : 0;
      point = (next & 0xc0) == 0x80 ? point << 6 | (next & 0x3f) : 0xfffd;
    }
    i += length;
    const auto unit = [&out](std::uint32_t u) {
      static constexpr char hex[] = "0123456789abcdef";
      out += "\\u";
      for (int shift = 12; shift >= 0; shift -= 4) out += hex[(u >> shift) & 15];
    };
    if (point > 0xffff) {
      point -= 0x10000;
      unit(0xd800 + (point >> 10));
      unit(0xdc00 + (point & 0x3ff));
    } else {
      unit(point);
    }
  }
  return out;
}

std::optional<std::string> build_session_report(std::string_view page, const ReportAsset& asset,
                                                std::string_view archive, std::string_view archive_name,
                                                std::string* missing) {
  Inliner inliner{asset, missing};
  std::string out;
  out.reserve(page.size() + archive.size() + archive.size() / 32 + 300000);
  bool archive_placed = false;
  std::size_t at = 0;
  while (at < page.size()) {
    const std::size_t open = page.find('<', at);
    if (open == std::string_view::npos) break;
    const bool script = page.compare(open, 12, "<script src=") == 0;
    const bool style =
        page.compare(open, 6, "<link ") == 0 && page.find("rel=\"stylesheet\"", open) < page.find('>', open);
    if (page.compare(open, kUtf8Meta.size(), kUtf8Meta) == 0) {
      out.append(page.substr(at, open - at));
      out += kBytesMeta;
      at = open + kUtf8Meta.size();
      continue;
    }
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
      out += "<script type=\"application/octet-stream\" id=\"trelvik-archive\" data-encoding=\"bytes\" data-name=\"";
      out += escape_attribute(archive_name);
      out += "\">\n";
      out += embed_bytes(archive);
      out += "\n</script>\n";
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
