# Sourced: points Wine at a prefix of the given build tree and starts one
# persistent wineserver for it. Callers end it with "wineserver -k".
# usage: wine_build=<build dir> [wine_arch=win32|win64] . tools/wine-env.sh
#        (sh passes no arguments to "."; then run programs with "$wine")
# win32 uses the 32-bit Wine of tools/wine32-root.sh through qemu; the
# system's Wine is 64-bit only and would exit 0 on a 32-bit program.
# A CMake build tree says its own architecture in its wine-run.sh.
if [ -z "${wine_arch:-}" ] && [ -f "$wine_build/wine-run.sh" ]; then
  wine_arch=$(sed -n 's/^export WINEARCH=//p' "$wine_build/wine-run.sh")
fi
wine_arch=${wine_arch:-win64}
if [ ! -d "$wine_build" ]; then
  echo "wine-env.sh: no build directory $wine_build" >&2
  return 1 2>/dev/null || exit 1
fi
export WINEPREFIX="$(cd "$wine_build" && pwd)/wineprefix"
export WINEARCH=$wine_arch
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
if [ "$wine_arch" = win32 ]; then
  wine=${BRISEL_WINE32_ROOT:-/opt/brisel-wine32}/usr/lib/wine/wine
  if [ ! -x "$wine" ]; then
    echo "wine-env.sh: no 32-bit Wine at $wine: run tools/wine32-root.sh (as root)" >&2
    return 1 2>/dev/null || exit 1
  fi
else
  wine=wine
fi
# Wine's background services inherit standard output; keep them off any pipe.
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  "$wine" wineboot -i </dev/null >/dev/null 2>&1
  # While the boot's own server runs, "-p" starts none, and that server then
  # exits under the next client ("recvmsg: Connection reset by peer").
  wineserver -w
fi
wineserver -p </dev/null >/dev/null 2>&1 || true
# Start the prefix's services now, under the persistent server, so that they
# stay attached to /dev/null rather than to the first test's output pipe
# (ctest would wait for it forever).
"$wine" wineboot </dev/null >/dev/null 2>&1
