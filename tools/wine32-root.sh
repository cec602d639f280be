#!/bin/sh
# Sets up a 32-bit Wine in a private root: the kernel here cannot execute
# 32-bit Linux programs, so Wine's i386 loader runs through qemu-user.
# wine32:i386 is never installed system-wide (it would make /usr/bin/wine pick
# the 32-bit loader and break every 64-bit run); only its i386 libraries are.
# Idempotent; Debian 12 as root.
# usage: tools/wine32-root.sh [root]   (default: $BRISEL_WINE32_ROOT or /opt/brisel-wine32)
set -eu
root=${1:-${BRISEL_WINE32_ROOT:-/opt/brisel-wine32}}
# The 32-bit loader talks to the system's 64-bit wineserver, so both must be
# of one Wine version: a root is made anew when that changes, or the recipe.
wine_version=$(dpkg-query -W -f='${Version}' wine64)
stamp="recipe 1, wine $wine_version"
if [ "$(cat "$root/.brisel-wine32" 2>/dev/null)" = "$stamp" ]; then
  exit 0
fi
echo "wine32-root: setting up $root"
export DEBIAN_FRONTEND=noninteractive
apt="apt-get -qq -o DPkg::Lock::Timeout=600"

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
  $apt update
elif ! apt-cache show libc6:i386 >/dev/null 2>&1; then
  $apt update
fi

# The i386 libraries wine32 needs, less wine32 and libwine themselves.
libs=$(apt-get -s install --no-install-recommends wine32:i386 |
  awk '$1 == "Inst" { split($2, p, ":"); if (p[1] != "wine32" && p[1] != "libwine") print $2 }')
if [ -n "$libs" ]; then
  # shellcheck disable=SC2086
  $apt install -y --no-install-recommends $libs libz-mingw-w64
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"   # apt downloads as its own user

# qemu-user from the backports suite of the machine's own Debian mirror,
# through an apt state of our own: the system's sources stay as they are.
. /etc/os-release
mirror=$(
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] && awk -v s="$VERSION_CODENAME" '
      /^[ \t]*$/ { if (ok) print uri; uri = ""; ok = 0; next }
      tolower($1) == "uris:" { uri = $2 }
      tolower($1) == "suites:" { for (i = 2; i <= NF; i++) if ($i == s) ok = 1 }
      END { if (ok) print uri }' "$f"
  done
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$f" ] && awk -v s="$VERSION_CODENAME" '
      $1 == "deb" { sub(/\[[^]]*\] */, ""); if ($3 == s) print $2 }' "$f"
  done | head -n 1)
if [ -z "$mirror" ]; then
  echo "wine32-root: no Debian $VERSION_CODENAME source found in /etc/apt" >&2
  exit 1
fi
mkdir -p "$work/lists/partial" "$work/cache/archives/partial" "$work/debs"
chown _apt "$work/debs" 2>/dev/null || true
echo "deb [arch=amd64 signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $mirror $VERSION_CODENAME-backports main" \
  >"$work/backports.list"
private="-o Dir::Etc::SourceList=$work/backports.list -o Dir::Etc::SourceParts=/dev/null
  -o Dir::State::Lists=$work/lists -o Dir::Cache=$work/cache"
# shellcheck disable=SC2086
apt-get -qq $private update
cd "$work/debs"
# shellcheck disable=SC2086
apt-get -qq $private download "qemu-user/$VERSION_CODENAME-backports"
apt-get -qq download "wine32:i386=$wine_version" "libwine:i386=$wine_version"

new=$root.new
rm -rf "$new"
mkdir -p "$new"
for deb in *.deb; do
  dpkg -x "$deb" "$new"
done
# Only the i386 emulator is used; the other ones are most of qemu-user's size.
find "$new/usr/bin" -name 'qemu-*' ! -name qemu-i386 -delete
rm -rf "$new/usr/share/doc" "$new/usr/share/man" "$new/usr/share/qemu"
if [ ! -x "$new/usr/bin/qemu-i386" ] || [ ! -x "$new/usr/lib/wine/wine" ]; then
  echo "wine32-root: qemu-i386 or the i386 Wine loader is missing from the packages" >&2
  exit 1
fi
# Wine re-executes its loader from its own folder by name and ignores
# WINELOADER, so the loader itself becomes the qemu wrapper.
mv "$new/usr/lib/wine/wine" "$new/usr/lib/wine/wine.bin"
cat >"$new/usr/lib/wine/wine" <<EOF
#!/bin/sh
exec $root/usr/bin/qemu-i386 -0 $root/usr/lib/wine/wine $root/usr/lib/wine/wine.bin "\$@"
EOF
chmod 755 "$new/usr/lib/wine/wine"
# libwine's install script makes zlib1.dll from the mingw one, marked as a
# Wine built-in DLL; dpkg -x runs no script, and user32 needs it.
zlib=/usr/i686-w64-mingw32/lib/zlib1.dll
dlls=$new/usr/lib/i386-linux-gnu/wine/i386-windows
{
  head -c 64 "$zlib"
  printf 'Wine builtin DLL'
  head -c 16 /dev/zero
  tail -c +97 "$zlib"
} >"$dlls/zlib1.dll"

rm -rf "$root"
mv "$new" "$root"
echo "$stamp" >"$root/.brisel-wine32"
echo "wine32-root: ready"
