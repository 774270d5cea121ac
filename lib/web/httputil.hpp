// The CGI replies of the action programs: four header blocks, each written as
// one piece, the body after it with no line end of its own, and the JSON
// string escaping that the status document uses.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace trelvik {

// Every rejected request.
inline constexpr std::string_view kHttpBadRequest =
    "Status: 400 Bad Request\r\nPragma: no-cache\r\nCache-Control: no-cache\r\nExpires: -1\r\n"
    "Content-Type: text/plain; charset=utf-8\r\n\r\n";
// The session actions' answers.
inline constexpr std::string_view kHttpTextOk =
    "Status: 200 OK\r\nPragma: no-cache\r\nCache-Control: no-cache\r\nExpires: -1\r\n"
    "Content-Type: text/plain; charset=utf-8\r\n\r\n";
// The PTZ test actions' answers: the same block without a character set.
inline constexpr std::string_view kHttpPlainTextOk =
    "Status: 200 OK\r\nPragma: no-cache\r\nCache-Control: no-cache\r\nExpires: -1\r\n"
    "Content-Type: text/plain\r\n\r\n";
// The status report; it carries no cache headers.
inline constexpr std::string_view kHttpJsonOk =
    "Status: 200 OK\r\nContent-Type: application/json; charset=utf-8\r\n\r\n";

// Writes the bad request block and `message` as the body in one write; no
// line end follows. The caller then exits with status 0.
void http_print_bad_request(const char* message, FILE* out = stdout);
// Writes `header` and `body` in one write (the OK replies).
void http_print_reply(std::string_view header, std::string_view body, FILE* out = stdout);
// Copies the file's bytes to `out` unchanged, without a header. A file that
// cannot be opened writes nothing and logs "Failed to open file: %s".
void http_print_file(const char* path, FILE* out = stdout);

// `value` as the inside of a JSON string: '"' and '\' get a backslash,
// control characters become \b \f \n \r \t or \u00XX, and a byte that is not
// part of valid UTF-8 becomes \ufffd. Ordinary text comes out unchanged.
std::string json_escape(std::string_view value);

}  // namespace trelvik
