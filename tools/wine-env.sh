# Sourced: points Wine at a prefix of the given build tree and starts one
# persistent wineserver for it. Callers end it with "wineserver -k".
# usage: wine_build=<build dir> . tools/wine-env.sh   (sh passes no arguments to ".")
export WINEPREFIX="$(cd "$wine_build" && pwd)/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
# Wine's background services inherit standard output; keep them off any pipe.
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  wineboot -i </dev/null >/dev/null 2>&1
fi
wineserver -p </dev/null >/dev/null 2>&1 || true
