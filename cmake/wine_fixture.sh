#!/bin/sh
# CTest fixtures for the tests that run under Wine.
#
#   wine_fixture.sh setup   LOADER WINESERVER LOGFILE
#   wine_fixture.sh cleanup LOADER WINESERVER LOGFILE
#
# setup starts a persistent wineserver for $WINEPREFIX and initialises the
# prefix (created on first use); cleanup stops the server and waits for it.
# All output of Wine goes to LOGFILE: processes that Wine leaves running must
# not hold CTest's output pipe open.
set -u
mode=$1 loader=$2 server=$3 log=$4
: "${WINEPREFIX:?WINEPREFIX must be set}"

case $mode in
  setup)
    mkdir -p "$WINEPREFIX" || exit 1
    {
      echo "== $(date '+%F %T') setup of $WINEPREFIX (${WINEARCH:-default})"
      start=$(date +%s)
      "$server" -p || exit 1
      "$loader" wineboot --init
      rc=$?
      echo "== wineboot exit $rc after $(( $(date +%s) - start )) s"
      exit $rc
    } >>"$log" 2>&1 </dev/null
    rc=$?
    [ $rc -eq 0 ] || { echo "Wine prefix setup failed (exit $rc); see $log"; tail -n 20 "$log"; }
    exit $rc
    ;;
  cleanup)
    {
      echo "== $(date '+%F %T') cleanup of $WINEPREFIX"
      "$server" -k
      "$server" -w
      echo "== wineserver stopped"
    } >>"$log" 2>&1 </dev/null
    exit 0
    ;;
  *)
    echo "usage: $0 setup|cleanup LOADER WINESERVER LOGFILE" >&2
    exit 2
    ;;
esac
