// The command runner for every shell command whose output is not read.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace trelvik {

// Runs `cmd` through the shell and waits; true only for exit status 0. A
// failure is logged once (exit status at warning level, no child or a signal
// at error level).
bool qorm_system(const char* cmd);
// Judges and logs the wait status `status` of the command shown as `cmd`, as
// qorm_system does (-1: no child); true only for exit status 0.
bool sysutil_judge_exit(int status, const char* cmd);
// Formats the command without a length limit, then as qorm_system.
[[gnu::format(printf, 1, 2)]] bool qorm_systemf(const char* fmt, ...);

// Registers a secret (the device API password) that logged command lines show
// as "***" inside their "-u" credentials, in every quoted form it may take
// there. The command run is not changed.
void sysutil_hide_secret(std::string_view secret);
// Reads the password line that the programs get on standard input: at most
// 255 bytes, cut at the first line feed (the rest of a longer line stays
// unread). The password is registered with sysutil_hide_secret. False when
// nothing could be read.
bool read_secret_line(FILE* in, std::string& secret);

// `text` with every registered secret inside the password of its "-u"
// credentials replaced by "***"; the rest of the text stays as it was.
std::string sysutil_redact(std::string_view text);

}  // namespace trelvik
