#!/bin/sh
# ferrule.exe under Wine, as a program of this machine, for the module's tests:
# FERRULE_EXE names this script. FERRULE_WINE is the loader, FERRULE_WINE_EXE
# the exe, WINEPREFIX the prefix with the test server registered. The machine
# description and the journal are handed over as Windows paths. ferrule.exe
# writes redirected output in the OEM code page of the locale (437 for C.UTF-8;
# FERRULE_WINE_OEM_CP names it), which is turned into the UTF-8 that
# PowerShell reads here.
set -u
[ -n "${STANDIN_MACHINE:-}" ] && STANDIN_MACHINE="Z:$(printf '%s' "$STANDIN_MACHINE" | tr / '\\')"
[ -n "${STANDIN_JOURNAL:-}" ] && STANDIN_JOURNAL="Z:$(printf '%s' "$STANDIN_JOURNAL" | tr / '\\')"
export STANDIN_MACHINE STANDIN_JOURNAL WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
out=$(mktemp)
"$FERRULE_WINE" "$FERRULE_WINE_EXE" "$@" >"$out" 2>/dev/null
status=$?
iconv -f "CP${FERRULE_WINE_OEM_CP:-437}" -t UTF-8 "$out"
rm -f "$out"
exit $status
