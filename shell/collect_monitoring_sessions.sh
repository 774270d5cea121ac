#!/bin/sh
# collect_monitoring_sessions.sh <serial number>
#
# Lists every stored monitoring session of this device for the status report:
# those on the internal storage (the package's localdata folder) and those on
# every edge storage (/var/spool/storage/<id>/Trelvik_<serial>/), oldest first
# per storage. For each it prints
#   PATH:<session folder>
#   Start: <start line of .signature>
#   End: <end line of .signature, empty while the session runs>
#   SIZE:<"Session Size: " of Session_Information.txt; the folder's size while
#        the session is active>
#   ZIPSIZE:<size of the session's archive, empty without one>
#   === SESSION END ===
# Sizes read like the programs' size texts ("12 MiB"). A session folder is a
# folder named %Y%m%d_%H_%M_%S.
#
# It must answer at once for a thousand sessions, so it never walks the
# sessions' data: one listing and one awk per storage folder read the two
# small text files of each session and the archives' sizes; only the active
# session (named by the state file) is measured with du.

serial=$1
case $serial in
  ''|*/*)
    echo "Usage: $0 <serial number>" >&2
    exit 2 ;;
esac
root=${TRELVIK_DEVICE_ROOT%/}
localdata="$root/usr/local/packages/Trelvik/localdata/"

# The active session's folder: storage path and activity folder of the state file.
active=
active_kib=
if [ -f "${localdata}current_monitoring_session.txt" ]; then
  sspa=
  acti=
  while IFS= read -r line || [ -n "$line" ]; do
    case $line in
      SSPA:*) sspa=${line#SSPA:} ;;
      ACTI:*) acti=${line#ACTI:} ;;
    esac
  done < "${localdata}current_monitoring_session.txt"
  # The programs record the path as they see it, with or without the device root.
  if [ -n "$sspa" ] && [ -n "$acti" ]; then
    case $sspa in
      "$root"/*) active=$sspa$acti ;;
      *) active=$root$sspa$acti ;;
    esac
  fi
  if [ -n "$active" ] && [ -d "$active" ]; then
    active_kib=$(du -sk "$active" 2>/dev/null | awk '{ print $1; exit }')
  fi
fi

# Prints the blocks of the sessions in one application folder ($1, ending "/").
# Paths reach awk through the environment: -v would expand backslashes in them.
# Nothing on a storage is followed: a linked application folder is not
# listed, and a session's records that are links are read as missing (one
# find per folder names them).
list_sessions() {
  [ -d "$1" ] && [ ! -L "${1%/}" ] || return 0
  linked=$(find "$1" -mindepth 2 -maxdepth 2 -type l \( -name .signature -o -name Session_Information.txt \) \
    2>/dev/null)
  # ls -ln gives awk each entry's size and name in one line; busybox's find
  # has no -printf. The names are session folders and their archives.
  # shellcheck disable=SC2012
  ls -ln "$1" 2>/dev/null | LIST_DIR=$1 ACTIVE=$active ACTIVE_KIB=$active_kib LINKED=$linked awk '
    function size_text(s,   q) {
      if (s <= 1024) return s " B"
      q = int(s / 1024); if (q <= 1024) return q " KiB"
      q = int(q / 1024); if (q <= 1024) return q " MiB"
      q = int(q / 1024); if (q <= 1024) return q " GiB"
      return int(q / 1024) " TiB"
    }
    function rest(line, prefix,   text) {
      text = substr(line, length(prefix) + 1)
      sub(/\r$/, "", text)
      return text
    }
    # Sets start and end from the first "Start: " and "End: " lines of .signature.
    function read_signature(file,   line) {
      start = end = ""
      if (file in linked) return
      while ((getline line < file) > 0) {
        if (start == "" && index(line, "Start: ") == 1) start = rest(line, "Start: ")
        else if (end == "" && index(line, "End: ") == 1) end = rest(line, "End: ")
      }
      close(file)
    }
    # The last "Session Size: " of the information file.
    function session_size(file,   line, found) {
      found = ""
      if (file in linked) return found
      while ((getline line < file) > 0) {
        if (index(line, "Session Size: ") == 1) found = rest(line, "Session Size: ")
      }
      close(file)
      return found
    }
    BEGIN {
      dir = ENVIRON["LIST_DIR"]
      active = ENVIRON["ACTIVE"]
      active_kib = ENVIRON["ACTIVE_KIB"]
      n = split(ENVIRON["LINKED"], links, "\n")
      for (i = 1; i <= n; i++) if (links[i] != "") linked[links[i]] = 1
      pattern = "^[0-9][0-9][0-9][0-9][0-9][0-9][0-9][0-9]_[0-9][0-9]_[0-9][0-9]_[0-9][0-9]"
    }
    NF >= 6 {
      name = $NF
      if (substr($1, 1, 1) == "d" && name ~ (pattern "$")) sessions[++count] = name
      else if (substr($1, 1, 1) == "-" && name ~ (pattern "\\.zip$")) zipsize[substr(name, 1, 17)] = $5
    }
    END {
      for (i = 1; i <= count; i++) {
        path = dir sessions[i]
        read_signature(path "/.signature")
        size = session_size(path "/Session_Information.txt")
        if (path == active) size = active_kib == "" ? "" : size_text(active_kib * 1024)
        zip = (sessions[i] in zipsize) ? size_text(zipsize[sessions[i]]) : ""
        print "PATH:" path
        print "Start: " start
        print "End: " end
        print "SIZE:" size
        print "ZIPSIZE:" zip
        print "=== SESSION END ==="
      }
    }'
}

list_sessions "$localdata"
for storage in "$root/var/spool/storage/"*/; do
  list_sessions "${storage}Trelvik_$serial/"
done
exit 0
