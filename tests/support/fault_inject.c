/* Preloaded into the programs under test (and the shells and tools they
 * start) to make chosen file calls fail the way a worn or full card does.
 *
 * TRELVIK_FAULT_CONTROL names a control file, read afresh whenever it
 * changes, so a test can switch faults on and off under a running daemon.
 * Without the file nothing is changed. Lines of "key=value":
 *
 *   path=<glob>        files the faults apply to (fnmatch, "*" crosses "/")
 *   ops=<list>         comma list of open, read, write, fsync, rename, unlink
 *   errno=<name>       ENOSPC (default), EIO, EACCES, EROFS or EPERM
 *   short=1            a faulted write first writes half of its bytes and
 *                      returns that; the following write fails
 *   program=<name>     only in processes of that short name
 *   at=<n>             count the matching calls and act on the n-th only
 *                      (1-based); without it every matching call fails
 *   action=<what>      fail (default), kill (SIGKILL before the call) or stop
 *                      (SIGSTOP before the call: a test cuts the power while
 *                      the program stands still)
 *   log=<path>         appends one line per matching call ("<op> <path>"),
 *                      for a test that counts the calls of a program
 *
 * Reads and writes through stdio are covered too: a matching fopen gets a
 * stream whose reads and writes go through the calls below. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <unistd.h>

enum { OP_OPEN = 1, OP_READ = 2, OP_WRITE = 4, OP_FSYNC = 8, OP_RENAME = 16, OP_UNLINK = 32 };
enum { ACT_FAIL, ACT_KILL, ACT_STOP };
enum { MAX_FDS = 4096 };

struct config {
  char pattern[512];
  char program[64];
  char log[512];
  int ops;
  int error;
  int short_write;
  long at;
  int action;
};

static struct config cfg;
static int have_cfg;
static struct timespec cfg_mtime;
static off_t cfg_size = -1;
static ino_t cfg_ino;
static long calls;
static unsigned char fd_match[MAX_FDS];
static unsigned char fd_short_done[MAX_FDS];

#define REAL(name) real_##name
#define LOAD(name)                                         \
  do {                                                     \
    if (!REAL(name)) REAL(name) = dlsym(RTLD_NEXT, #name); \
  } while (0)

static int (*real_open)(const char*, int, ...);
static int (*real_open64)(const char*, int, ...);
static int (*real_openat)(int, const char*, int, ...);
static int (*real_openat64)(int, const char*, int, ...);
static int (*real_creat)(const char*, mode_t);
static int (*real_creat64)(const char*, mode_t);
static FILE* (*real_fopen)(const char*, const char*);
static FILE* (*real_fopen64)(const char*, const char*);
static ssize_t (*real_read)(int, void*, size_t);
static ssize_t (*real_write)(int, const void*, size_t);
static int (*real_close)(int);
static int (*real_fsync)(int);
static int (*real_fdatasync)(int);
static int (*real_syncfs)(int);
static int (*real_rename)(const char*, const char*);
static int (*real_renameat)(int, const char*, int, const char*);
static int (*real_renameat2)(int, const char*, int, const char*, unsigned);
static int (*real_unlink)(const char*);
static int (*real_unlinkat)(int, const char*, int);

static int error_named(const char* name) {
  if (strcmp(name, "EIO") == 0) return EIO;
  if (strcmp(name, "EACCES") == 0) return EACCES;
  if (strcmp(name, "EROFS") == 0) return EROFS;
  if (strcmp(name, "EPERM") == 0) return EPERM;
  return ENOSPC;
}

static int ops_named(const char* list) {
  int ops = 0;
  if (strstr(list, "open")) ops |= OP_OPEN;
  if (strstr(list, "read")) ops |= OP_READ;
  if (strstr(list, "write")) ops |= OP_WRITE;
  if (strstr(list, "fsync")) ops |= OP_FSYNC;
  if (strstr(list, "rename")) ops |= OP_RENAME;
  if (strstr(list, "unlink")) ops |= OP_UNLINK;
  return ops;
}

static void copy_value(char* to, size_t size, const char* value) {
  strncpy(to, value, size - 1);
  to[size - 1] = '\0';
}

static void parse_line(struct config* c, char* line) {
  char* eq = strchr(line, '=');
  if (eq == NULL) return;
  *eq = '\0';
  const char* value = eq + 1;
  if (strcmp(line, "path") == 0) copy_value(c->pattern, sizeof c->pattern, value);
  else if (strcmp(line, "program") == 0) copy_value(c->program, sizeof c->program, value);
  else if (strcmp(line, "log") == 0) copy_value(c->log, sizeof c->log, value);
  else if (strcmp(line, "ops") == 0) c->ops = ops_named(value);
  else if (strcmp(line, "errno") == 0) c->error = error_named(value);
  else if (strcmp(line, "short") == 0) c->short_write = atoi(value);
  else if (strcmp(line, "at") == 0) c->at = atol(value);
  else if (strcmp(line, "action") == 0)
    c->action = strcmp(value, "kill") == 0 ? ACT_KILL : strcmp(value, "stop") == 0 ? ACT_STOP : ACT_FAIL;
}

/* Re-reads the control file when it changed; raw system calls only, so the
 * hooks below are never re-entered. */
static void refresh(void) {
  const char* control = getenv("TRELVIK_FAULT_CONTROL");
  struct stat st;
  if (control == NULL || syscall(SYS_newfstatat, AT_FDCWD, control, &st, 0) != 0) {
    have_cfg = 0;
    cfg_size = -1;
    return;
  }
  if (have_cfg && st.st_size == cfg_size && st.st_ino == cfg_ino && st.st_mtim.tv_sec == cfg_mtime.tv_sec &&
      st.st_mtim.tv_nsec == cfg_mtime.tv_nsec) {
    return;
  }
  char text[4096];
  const int fd = (int)syscall(SYS_openat, AT_FDCWD, control, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  const ssize_t n = syscall(SYS_read, fd, text, sizeof text - 1);
  syscall(SYS_close, fd);
  if (n < 0) return;
  text[n] = '\0';
  struct config c;
  memset(&c, 0, sizeof c);
  c.error = ENOSPC;
  char* save = NULL;
  for (char* line = strtok_r(text, "\n", &save); line; line = strtok_r(NULL, "\n", &save)) parse_line(&c, line);
  cfg = c;
  have_cfg = 1;
  calls = 0;
  cfg_size = st.st_size;
  cfg_ino = st.st_ino;
  cfg_mtime = st.st_mtim;
}

static int program_matches(void) {
  if (cfg.program[0] == '\0') return 1;
  return strcmp(program_invocation_short_name, cfg.program) == 0;
}

static int path_matches(const char* path) {
  refresh();
  return have_cfg && path != NULL && cfg.pattern[0] != '\0' && program_matches() && fnmatch(cfg.pattern, path, 0) == 0;
}

static void note_call(const char* op, const char* path) {
  if (cfg.log[0] == '\0') return;
  char line[1200];
  const int len = snprintf(line, sizeof line, "%d %s %s\n", (int)getpid(), op, path ? path : "-");
  const int fd = (int)syscall(SYS_openat, AT_FDCWD, cfg.log, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return;
  syscall(SYS_write, fd, line, len > 0 && (size_t)len < sizeof line ? (size_t)len : 0);
  syscall(SYS_close, fd);
}

/* Whether this call of `op` on a matching file fails; kill and stop act here. */
static int strikes(int op, const char* name, const char* path) {
  if (!(cfg.ops & op)) return 0;
  note_call(name, path);
  ++calls;
  if (cfg.at != 0 && calls != cfg.at) return 0;
  if (cfg.action == ACT_KILL) raise(SIGKILL);
  if (cfg.action == ACT_STOP) {
    raise(SIGSTOP);
    return 0;
  }
  return 1;
}

static int fd_matches(int fd) {
  refresh();
  return have_cfg && fd >= 0 && fd < MAX_FDS && fd_match[fd] && program_matches();
}

static void remember(int fd, const char* path) {
  if (fd >= 0 && fd < MAX_FDS) {
    fd_match[fd] = (unsigned char)path_matches(path);
    fd_short_done[fd] = 0;
  }
}

/* Opening: an "open" fault refuses it; otherwise the descriptor is marked
 * when its path matches. */
static int open_checked(const char* path) {
  if (path_matches(path) && strikes(OP_OPEN, "open", path)) {
    errno = cfg.error;
    return 0;
  }
  return 1;
}

/* The whole path of a name opened from a folder's descriptor, so that the
 * patterns match the *at calls as they match the plain ones. */
static const char* at_path(int dirfd, const char* path, char* whole, size_t size) {
  if (path == NULL || path[0] == '/' || dirfd == AT_FDCWD) return path;
  char link[64];
  snprintf(link, sizeof link, "/proc/self/fd/%d", dirfd);
  const long n = syscall(SYS_readlinkat, AT_FDCWD, link, whole, size - 1);
  if (n <= 0) return path;
  snprintf(whole + n, size - (size_t)n, "/%s", path);
  return whole;
}

static mode_t mode_of(int flags, va_list ap) { return (flags & (O_CREAT | O_TMPFILE)) ? (mode_t)va_arg(ap, int) : 0; }

static int opened(int fd, const char* path) {
  remember(fd, path);
  return fd;
}

#define OPEN_HOOK(name, params, args, dirfd)                      \
  int name params {                                               \
    LOAD(name);                                                   \
    va_list ap;                                                   \
    va_start(ap, flags);                                          \
    const mode_t mode = mode_of(flags, ap);                       \
    va_end(ap);                                                   \
    char whole[4200];                                             \
    const char* full = at_path(dirfd, path, whole, sizeof whole); \
    if (!open_checked(full)) return -1;                           \
    return opened(REAL(name) args, full);                         \
  }
OPEN_HOOK(open, (const char* path, int flags, ...), (path, flags, mode), AT_FDCWD)
OPEN_HOOK(open64, (const char* path, int flags, ...), (path, flags, mode), AT_FDCWD)
OPEN_HOOK(openat, (int dirfd, const char* path, int flags, ...), (dirfd, path, flags, mode), dirfd)
OPEN_HOOK(openat64, (int dirfd, const char* path, int flags, ...), (dirfd, path, flags, mode), dirfd)

#define CREAT_HOOK(name)                         \
  int name(const char* path, mode_t mode) {      \
    LOAD(name);                                  \
    if (!open_checked(path)) return -1;          \
    return opened(REAL(name)(path, mode), path); \
  }
CREAT_HOOK(creat)
CREAT_HOOK(creat64)

ssize_t read(int fd, void* buf, size_t count) {
  LOAD(read);
  if (fd_matches(fd) && strikes(OP_READ, "read", NULL)) {
    errno = cfg.error;
    return -1;
  }
  return REAL(read)(fd, buf, count);
}

ssize_t write(int fd, const void* buf, size_t count) {
  LOAD(write);
  if (fd_matches(fd) && strikes(OP_WRITE, "write", NULL)) {
    if (cfg.short_write && !fd_short_done[fd] && count > 1) {
      fd_short_done[fd] = 1;
      return REAL(write)(fd, buf, count / 2);
    }
    errno = cfg.error;
    return -1;
  }
  return REAL(write)(fd, buf, count);
}

int close(int fd) {
  LOAD(close);
  if (fd >= 0 && fd < MAX_FDS) fd_match[fd] = 0;
  return REAL(close)(fd);
}

#define SYNC_HOOK(name)                                     \
  int name(int fd) {                                        \
    LOAD(name);                                             \
    if (fd_matches(fd) && strikes(OP_FSYNC, #name, NULL)) { \
      errno = cfg.error;                                    \
      return -1;                                            \
    }                                                       \
    return REAL(name)(fd);                                  \
  }
SYNC_HOOK(fsync)
SYNC_HOOK(fdatasync)
SYNC_HOOK(syncfs)

static int rename_fails(const char* from, const char* to) {
  const char* hit = path_matches(from) ? from : path_matches(to) ? to : NULL;
  return hit != NULL && strikes(OP_RENAME, "rename", hit);
}

int rename(const char* from, const char* to) {
  LOAD(rename);
  if (rename_fails(from, to)) {
    errno = cfg.error;
    return -1;
  }
  return REAL(rename)(from, to);
}

int renameat(int fromfd, const char* from, int tofd, const char* to) {
  LOAD(renameat);
  char whole_from[4200], whole_to[4200];
  if (rename_fails(at_path(fromfd, from, whole_from, sizeof whole_from),
                   at_path(tofd, to, whole_to, sizeof whole_to))) {
    errno = cfg.error;
    return -1;
  }
  return REAL(renameat)(fromfd, from, tofd, to);
}

int renameat2(int fromfd, const char* from, int tofd, const char* to, unsigned flags) {
  LOAD(renameat2);
  char whole_from[4200], whole_to[4200];
  if (rename_fails(at_path(fromfd, from, whole_from, sizeof whole_from),
                   at_path(tofd, to, whole_to, sizeof whole_to))) {
    errno = cfg.error;
    return -1;
  }
  return REAL(renameat2)(fromfd, from, tofd, to, flags);
}

int unlink(const char* path) {
  LOAD(unlink);
  if (path_matches(path) && strikes(OP_UNLINK, "unlink", path)) {
    errno = cfg.error;
    return -1;
  }
  return REAL(unlink)(path);
}

int unlinkat(int dirfd, const char* path, int flags) {
  LOAD(unlinkat);
  char whole[4200];
  const char* full = at_path(dirfd, path, whole, sizeof whole);
  if (path_matches(full) && strikes(OP_UNLINK, "unlink", full)) {
    errno = cfg.error;
    return -1;
  }
  return REAL(unlinkat)(dirfd, path, flags);
}

/* remove() reaches unlink inside the C library, past the hooks above. */
int remove(const char* path) {
  LOAD(unlink);
  if (path_matches(path) && strikes(OP_UNLINK, "unlink", path)) {
    errno = cfg.error;
    return -1;
  }
  const int result = REAL(unlink)(path);
  if (result != 0 && errno == EISDIR) return rmdir(path);
  return result;
}

/* ----- stdio: a matching stream reads and writes through the hooks ----- */

static ssize_t cookie_read(void* cookie, char* buf, size_t size) { return read((int)(long)cookie, buf, size); }

static ssize_t cookie_write(void* cookie, const char* buf, size_t size) {
  const ssize_t n = write((int)(long)cookie, buf, size);
  return n < 0 ? 0 : n; /* stdio takes 0 as the error */
}

static int cookie_seek(void* cookie, off64_t* offset, int whence) {
  const off64_t at = lseek64((int)(long)cookie, *offset, whence);
  if (at < 0) return -1;
  *offset = at;
  return 0;
}

static int cookie_close(void* cookie) { return close((int)(long)cookie); }

static int flags_of(const char* mode) {
  int flags = O_CLOEXEC * (strchr(mode, 'e') != NULL);
  const int plus = strchr(mode, '+') != NULL;
  switch (mode[0]) {
    case 'r':
      return flags | (plus ? O_RDWR : O_RDONLY);
    case 'w':
      return flags | (plus ? O_RDWR : O_WRONLY) | O_CREAT | O_TRUNC;
    case 'a':
      return flags | (plus ? O_RDWR : O_WRONLY) | O_CREAT | O_APPEND;
    default:
      return -1;
  }
}

static FILE* fopen_hooked(const char* path, const char* mode, FILE* (*real)(const char*, const char*)) {
  refresh();
  const int flags = flags_of(mode);
  if (!path_matches(path) || flags < 0) return real(path, mode);
  const int fd = open(path, flags, 0666);
  if (fd < 0) return NULL;
  cookie_io_functions_t io = {cookie_read, cookie_write, cookie_seek, cookie_close};
  char cookie_mode[4] = {mode[0], strchr(mode, '+') ? '+' : '\0', '\0', '\0'};
  FILE* stream = fopencookie((void*)(long)fd, cookie_mode, io);
  if (stream == NULL) close(fd);
  return stream;
}

FILE* fopen(const char* path, const char* mode) {
  LOAD(fopen);
  return fopen_hooked(path, mode, REAL(fopen));
}

FILE* fopen64(const char* path, const char* mode) {
  LOAD(fopen64);
  return fopen_hooked(path, mode, REAL(fopen64));
}
