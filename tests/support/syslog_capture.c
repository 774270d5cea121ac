/* A preload library for the tests: the programs' syslog lines go, one JSON
 * object per line, to the file named by TRELVIK_SYSLOG_CAPTURE, with the
 * level, whether openlog was called, its identity and options, and the text.
 * The real system log is never touched. */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <syslog.h>
#include <unistd.h>

static int opened;
static char ident_copy[256];
static int option_bits;
static int facility_bits;

static const char* level_name(int priority) {
  static const char* names[] = {"emerg", "alert", "crit", "err", "warning", "notice", "info", "debug"};
  return names[priority & 7];
}

struct text {
  char* data;
  size_t len;
  size_t cap;
};

static void put(struct text* t, const char* piece, size_t n) {
  if (t->len + n + 1 > t->cap) {
    t->cap = (t->len + n + 1) * 2;
    t->data = realloc(t->data, t->cap);
    if (t->data == NULL) abort();
  }
  memcpy(t->data + t->len, piece, n);
  t->len += n;
  t->data[t->len] = '\0';
}

static void put_raw(struct text* t, const char* piece) { put(t, piece, strlen(piece)); }

static void put_json_string(struct text* t, const char* value) {
  put_raw(t, "\"");
  for (const unsigned char* p = (const unsigned char*)value; *p; ++p) {
    char piece[8];
    if (*p == '"' || *p == '\\') {
      piece[0] = '\\';
      piece[1] = (char)*p;
      put(t, piece, 2);
    } else if (*p < 0x20) {
      put(t, piece, (size_t)snprintf(piece, sizeof piece, "\\u%04x", *p));
    } else {
      put(t, (const char*)p, 1);
    }
  }
  put_raw(t, "\"");
}

static void capture(int priority, const char* format, va_list args) {
  const int saved = errno;
  const char* target = getenv("TRELVIK_SYSLOG_CAPTURE");
  if (target == NULL) return;
  char* message = NULL;
  if (vasprintf(&message, format, args) < 0) return;
  struct text line = {NULL, 0, 0};
  char head[200];
  snprintf(head, sizeof head,
           "{\"level\":\"%s\",\"opened\":%s,\"options\":%d,\"facility\":%d,\"pid\":%d,\"ident\":", level_name(priority),
           opened ? "true" : "false", option_bits, facility_bits, (int)getpid());
  put_raw(&line, head);
  put_json_string(&line, ident_copy);
  put_raw(&line, ",\"text\":");
  put_json_string(&line, message);
  put_raw(&line, "}\n");
  const int fd = open(target, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd >= 0) {
    /* One write per line keeps lines of concurrent threads and processes whole. */
    ssize_t ignored = write(fd, line.data, line.len);
    (void)ignored;
    close(fd);
  }
  free(line.data);
  free(message);
  errno = saved;
}

void openlog(const char* ident, int option, int facility) {
  opened = 1;
  snprintf(ident_copy, sizeof ident_copy, "%s", ident ? ident : "");
  option_bits = option;
  facility_bits = facility;
}

void closelog(void) { opened = 0; }

void vsyslog(int priority, const char* format, va_list args) { capture(priority, format, args); }

void syslog(int priority, const char* format, ...) {
  va_list args;
  va_start(args, format);
  capture(priority, format, args);
  va_end(args);
}

void __vsyslog_chk(int priority, int flag, const char* format, va_list args) {
  (void)flag;
  capture(priority, format, args);
}

void __syslog_chk(int priority, int flag, const char* format, ...) {
  (void)flag;
  va_list args;
  va_start(args, format);
  capture(priority, format, args);
  va_end(args);
}
