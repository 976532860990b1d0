#!/bin/sh
# Makes a throwaway Wine prefix; with a server DLL, registers it as the network
# configuration class, so that ferrule.exe gets it from CoCreateInstance.
# usage: wine_prefix.sh WINE64 PREFIX [SERVER-DLL]
#        wine_prefix.sh --stop WINE64 PREFIX
#
# The prefix's wineserver is started first and kept up between runs (until
# --stop, or five idle minutes): left to itself it exits 3 s after its last
# program, and a program that starts just as it goes gets "recvmsg:
# Connection reset by peer" and never runs.
set -e
stop=
if [ "$1" = --stop ]; then stop=1; shift; fi
wine=$1 prefix=$(realpath -m "$2") server=$3
wineserver="$(dirname "$wine")/wineserver64"
[ -x "$wineserver" ] || wineserver="$(dirname "$wine")/wineserver"
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# A server left from an earlier run (with --stop, this run's) goes first; it
# may be gone already after an idle spell.
"$wineserver" -k >/dev/null 2>&1 || true
[ -z "$stop" ] || exit 0
rm -rf "$prefix"
mkdir -p "$prefix"
# Its output goes nowhere: it outlives this script, and a test's pipe that it
# held would keep the test open.
"$wineserver" -p300 </dev/null >/dev/null 2>&1
"$wine" wineboot -i >/dev/null 2>&1
[ -n "$server" ] || exit 0
key='HKLM\Software\Classes\CLSID\{5B035261-40F9-11D1-AAEC-00805FC1270E}\InprocServer32'
path="Z:$(realpath "$server" | sed 's|/|\\|g')"
"$wine" reg add "$key" /ve /d "$path" /f >/dev/null
"$wine" reg add "$key" /v ThreadingModel /d Both /f >/dev/null
"$wine" reg query "$key" | grep -q ThreadingModel
