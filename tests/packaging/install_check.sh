#!/usr/bin/env bash
# What `cmake --install` gives, and the manual page it installs.
#
# Usage: tests/packaging/install_check.sh install CMAKE BUILD_DIR
#          into an empty prefix exactly bin/viewer and share/man/man1/viewer.1, and nothing
#          else (no test program, benchmark or GoogleTest); DESTDIR honoured; the installed
#          program starts (in an empty folder: the missing file's line, status 1).
#        tests/packaging/install_check.sh manual-page VIEWER_1
#          groff finds nothing to warn about, and man renders it. Exits 77 (skipped) where
#          groff or man is not installed.
set -uo pipefail
fail() { echo "FAILED: $*"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

case $1 in
install)
  cmake=$2 build=$3
  "$cmake" --install "$build" --prefix "$work/prefix" >/dev/null || fail "install into a prefix"
  installed=$(cd "$work/prefix" && find . -type f | sort | tr '\n' ' ')
  [ "$installed" = "./bin/viewer ./share/man/man1/viewer.1 " ] ||
    fail "installed files: $installed"
  [ -x "$work/prefix/bin/viewer" ] || fail "bin/viewer is not executable"

  DESTDIR="$work/staged" "$cmake" --install "$build" --prefix /opt/viewer >/dev/null ||
    fail "install with DESTDIR"
  [ -f "$work/staged/opt/viewer/bin/viewer" ] && [ -f "$work/staged/opt/viewer/share/man/man1/viewer.1" ] ||
    fail "DESTDIR was not honoured: $(cd "$work/staged" && find . -type f | tr '\n' ' ')"

  mkdir "$work/empty"
  # Without a controlling terminal (setsid), so that no terminal is asked.
  message=$(cd "$work/empty" && setsid -w "$work/prefix/bin/viewer" </dev/null 2>&1 >/dev/null)
  status=$?
  [ "$status" = 1 ] && [ "$message" = "viewer: cannot open Painting.bmp: No such file or directory" ] ||
    fail "installed viewer: status $status, said: $message"
  ;;
manual-page)
  page=$2
  for tool in groff man; do
    command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
  done
  warnings=$(groff -man -ww -z "$page" 2>&1) || fail "groff failed: $warnings"
  [ -z "$warnings" ] || fail "groff warns: $warnings"
  # man-db's sandbox cannot start in some containers; it is not what is checked here.
  shown=$(MAN_DISABLE_SECCOMP=1 MANWIDTH=80 man -l "$page" 2>"$work/errors") ||
    fail "man -l failed: $(cat "$work/errors")"
  for section in NAME SYNOPSIS DESCRIPTION "EXIT STATUS" DIAGNOSTICS SIGNALS FILES ENVIRONMENT WINDOWS; do
    grep -q "^$section" <<<"$shown" || fail "man -l shows no $section section"
  done
  ;;
*)
  fail "unknown check: $1"
  ;;
esac
echo "passed"
