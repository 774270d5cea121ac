#include "lib/web/httputil.hpp"

#include "lib/base/log.hpp"
#include "lib/base/pipe.hpp"

namespace trelvik {

void http_print_bad_request(const char* message, FILE* out) {
  std::fprintf(out, "%.*s%s", static_cast<int>(kHttpBadRequest.size()), kHttpBadRequest.data(), message);
}

void http_print_reply(std::string_view header, std::string_view body, FILE* out) {
  std::string reply(header);
  reply += body;
  std::fwrite(reply.data(), 1, reply.size(), out);
}

void http_print_file(const char* path, FILE* out) {
  File file(path, "rb");
  if (!file.is_open()) {
    LOG_ERROR("Failed to open file: %s", path);
    return;
  }
  char chunk[1024];
  std::size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, file.get())) > 0) std::fwrite(chunk, 1, got, out);
  file.close();
}

namespace {

bool is_continuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// Length of the well-formed UTF-8 sequence starting at `at` (RFC 3629: no
// overlong forms, no surrogates, nothing above U+10FFFF), or 0.
std::size_t utf8_length(std::string_view text, std::size_t at) {
  const auto byte = [&](std::size_t i) -> unsigned char {
    return at + i < text.size() ? static_cast<unsigned char>(text[at + i]) : 0;
  };
  const unsigned char lead = byte(0);
  if (lead < 0x80) return 1;
  unsigned char low = 0x80, high = 0xBF;  // bounds of the second byte
  std::size_t length;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (byte(1) < low || byte(1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (!is_continuation(byte(i))) return 0;
  }
  return length;
}

void append_control(std::string& out, unsigned char c) {
  switch (c) {
    case '\b':
      out += "\\b";
      return;
    case '\f':
      out += "\\f";
      return;
    case '\n':
      out += "\\n";
      return;
    case '\r':
      out += "\\r";
      return;
    case '\t':
      out += "\\t";
      return;
    default:
      break;
  }
  static constexpr char kHex[] = "0123456789abcdef";
  out += "\\u00";
  out += kHex[c >> 4];
  out += kHex[c & 0x0F];
}

}  // namespace

std::string json_escape(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  std::size_t at = 0;
  while (at < value.size()) {
    const auto c = static_cast<unsigned char>(value[at]);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      append_control(out, c);
    } else if (const std::size_t length = utf8_length(value, at); length == 0) {
      out += "\\ufffd";  // the document is declared UTF-8; a stray byte would make it unreadable
    } else {
      out.append(value.substr(at, length));
      at += length;
      continue;
    }
    ++at;
  }
  return out;
}

}  // namespace trelvik
