#!/bin/sh
# Makes a throwaway Wine prefix; with a server DLL, registers it as the network
# configuration class, so that ferrule.exe gets it from CoCreateInstance.
# usage: wine_prefix.sh WINE64 PREFIX [SERVER-DLL]
set -e
wine=$1 prefix=$(realpath -m "$2") server=$3
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
rm -rf "$prefix"
"$wine" wineboot -i >/dev/null 2>&1
[ -n "$server" ] || exit 0
key='HKLM\Software\Classes\CLSID\{5B035261-40F9-11D1-AAEC-00805FC1270E}\InprocServer32'
path="Z:$(realpath "$server" | sed 's|/|\\|g')"
"$wine" reg add "$key" /ve /d "$path" /f >/dev/null
"$wine" reg add "$key" /v ThreadingModel /d Both /f >/dev/null
"$wine" reg query "$key" | grep -q ThreadingModel
