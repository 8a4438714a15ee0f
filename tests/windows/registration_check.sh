#!/bin/sh
# Registers or unregisters corvane.dll with regsvr32 under Wine and checks the
# registry with "wine reg query".
#
#   registration_check.sh register   LOADER DLL
#   registration_check.sh unregister LOADER DLL
#
# WINEPREFIX and the rest of the Wine environment come from CTest.
set -u
mode=$1 loader=$2 dll=$3
failures=0

fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# Exit status of "reg query" only (1 when the key or value is absent).
query() { "$loader" reg query "$@" >/dev/null 2>&1; }

# The data of one value: the text after its REG_SZ column.
value_of() {
  "$loader" reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' |
    sed -n 's/^ *[^ ].*REG_SZ *//p' | head -n 1
}
default_of() {
  "$loader" reg query "$1" /ve 2>/dev/null | tr -d '\r' |
    sed -n 's/^ *[^ ].*REG_SZ *//p' | head -n 1
}

expect_default() {
  got=$(default_of "$1")
  [ "$got" = "$2" ] || fail "$1 (default) is '$got', expected '$2'"
}

LIBID='{72F30627-98F2-11D4-ADBD-009027A2E3E1}'
# class identifier | versioned ProgID | version-independent ProgID | description
CLASSES='{72F30636-98F2-11D4-ADBD-009027A2E3E1}|KRV.Cmn.Corvane.1|KRV.Cmn.Corvane|KRV Cmn Corvane Component
{3A28BAE7-81B7-11D5-ADA6-00508BF11413}|KRV.Cmn.Corvane.LogFile.1|KRV.Cmn.Corvane.LogFile|KRV Cmn Logfile Handler Component
{80012F71-89CA-11D6-A7F7-00508BF5D0B7}|Corvane.LogFile2.1|Corvane.LogFile2|LogFile2 Class'
IIDS='{72F30635-98F2-11D4-ADBD-009027A2E3E1} {3A28BAE6-81B7-11D5-ADA6-00508BF11413} {80012F70-89CA-11D6-A7F7-00508BF5D0B7}'
PROXY_CLSID='{72F30635-98F2-11D4-ADBD-009027A2E3E1}'

windll=$("$loader" winepath -w "$dll" 2>/dev/null | tr -d '\r')
[ -n "$windll" ] || { echo "FAIL: winepath could not convert $dll"; exit 1; }

case $mode in
  register)
    "$loader" regsvr32 /s "$windll"
    rc=$?
    [ $rc -eq 0 ] || { echo "FAIL: regsvr32 exited with $rc"; exit 1; }
    echo "$CLASSES" | while IFS='|' read -r clsid versioned independent description; do
      key="HKCR\\CLSID\\$clsid"
      expect_default "HKCR\\$versioned" "$description"
      expect_default "HKCR\\$versioned\\CLSID" "$clsid"
      expect_default "HKCR\\$independent" "$description"
      expect_default "HKCR\\$independent\\CLSID" "$clsid"
      expect_default "HKCR\\$independent\\CurVer" "$versioned"
      expect_default "$key" "$description"
      expect_default "$key\\ProgID" "$versioned"
      expect_default "$key\\VersionIndependentProgID" "$independent"
      expect_default "$key\\TypeLib" "$LIBID"
      # The module's own full path (Windows names compare without case).
      path=$(default_of "$key\\InprocServer32")
      [ "$(echo "$path" | tr 'a-z' 'A-Z')" = "$(echo "$windll" | tr 'a-z' 'A-Z')" ] ||
        fail "$key\\InprocServer32 is '$path', expected '$windll'"
      model=$(value_of "$key\\InprocServer32" ThreadingModel)
      [ "$model" = "Both" ] || fail "$key\\InprocServer32 ThreadingModel is '$model'"
      [ $failures -eq 0 ] || exit 1
    done || failures=$((failures + 1))
    # Type library and proxy/stub registration made by the system's functions.
    query "HKCR\\TypeLib\\$LIBID\\1.0" || fail "type library $LIBID 1.0 not registered"
    for iid in $IIDS; do
      expect_default "HKCR\\Interface\\$iid\\ProxyStubClsid32" "$PROXY_CLSID"
    done
    query "HKCR\\CLSID\\$PROXY_CLSID\\InprocServer32" || fail "proxy/stub class not registered"
    ;;
  unregister)
    "$loader" regsvr32 /u /s "$windll"
    rc=$?
    [ $rc -eq 0 ] || fail "regsvr32 /u exited with $rc"
    echo "$CLASSES" | while IFS='|' read -r clsid versioned independent description; do
      for key in "HKCR\\$versioned" "HKCR\\$independent" "HKCR\\CLSID\\$clsid"; do
        query "$key" && { echo "FAIL: $key still present"; exit 1; }
      done
      :
    done || failures=$((failures + 1))
    query 'HKCR\CLSID' || fail "the CLSID key itself was removed"
    query "HKCR\\TypeLib\\$LIBID" && fail "type library still registered"
    for iid in $IIDS; do
      query "HKCR\\Interface\\$iid" && fail "interface $iid still registered"
    done
    ;;
  *)
    echo "usage: $0 register|unregister LOADER DLL" >&2
    exit 2
    ;;
esac

[ $failures -eq 0 ] || exit 1
echo "$mode: ok"
