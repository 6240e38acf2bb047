# shellcheck shell=bash
# The assertions the package tests share, sourced by each (bash). A failed
# check is counted and the test goes on; `die` ends it at once.

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
pass() { echo "ok: $*"; }
# check DESCRIPTION COMMAND...: one assertion.
check() {
  local what=$1
  shift
  if "$@"; then pass "$what"; else fail "$what"; fi
}
# check_not DESCRIPTION COMMAND...: passes when the command fails.
check_not() {
  local what=$1
  shift
  if "$@"; then fail "$what"; else pass "$what"; fi
}
die() {
  echo "FAIL: $*" >&2
  exit 1
}
