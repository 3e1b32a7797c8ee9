# Sourced by the project's scripts: the machine facts and recipes they share. Sourcing it changes
# nothing on the machine; every function that does says so.

# Wine's two loaders, called by their own paths: with wine32 installed the "wine" and "wineboot"
# wrappers pick the 32-bit loader.
TALVORA_WINE64=/usr/lib/wine/wine64
TALVORA_WINE32=/usr/lib/wine/wine

TALVORA_NON_FREE_SOURCE=/etc/apt/sources.list.d/talvora-non-free.sources
TALVORA_BACKPORTS_SOURCE=/etc/apt/sources.list.d/talvora-backports.sources

# Prints the comment block at the top of a script (from its second line to the first line that is
# not a comment), without the "# ": the scripts' --help.
print_header_help() {
  sed -n '2,/^[^#]/p' "$1" | sed '$d' | sed 's/^# \{0,1\}//'
}

# Sets SUDO to what runs a command as root: nothing for root, "sudo" otherwise ("sudo -n" with
# TALVORA_SUDO_NONINTERACTIVE=1, for scripts that must not wait for a password).
set_sudo() {
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then
    if [ "${TALVORA_SUDO_NONINTERACTIVE:-}" = 1 ]; then SUDO="sudo -n"; else SUDO="sudo"; fi
  fi
}

# True when the Debian package is installed.
package_installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

# Writes the apt source file $1 with the content $2 when it is missing or different (changes the
# machine). Returns 0 when it wrote it (apt-get update is due), 1 when it was already there, 2 when it
# could not write it. Needs SUDO (set_sudo).
write_apt_source() {
  [ -f "$1" ] && [ "$(cat "$1")" = "$2" ] && return 1
  printf '%s\n' "$2" | $SUDO tee "$1" >/dev/null || return 2
}

# Debian's non-free component (the UnRAR library and rar), with its sources (deb-src).
enable_non_free() {
  write_apt_source "$TALVORA_NON_FREE_SOURCE" \
    $'Types: deb deb-src\nURIs: http://deb.debian.org/debian\nSuites: bookworm\nComponents: non-free\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg'
}

# bookworm-backports: qemu-user (for the 32-bit programs) and osslsigncode (for signing the release).
enable_backports() {
  write_apt_source "$TALVORA_BACKPORTS_SOURCE" \
    $'Types: deb\nURIs: http://deb.debian.org/debian\nSuites: bookworm-backports\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg'
}

# The Tahoma fonts Wine ships but does not install into a prefix.
TALVORA_WINE_FONTS=(/usr/share/wine/fonts/tahoma*.ttf)

# What a prefix is made from, for the stamp that tells whether a cached one is current.
wine_prefix_recipe() { echo "$1 $("$TALVORA_WINE64" --version 2>/dev/null || wineserver --version 2>&1 | head -n 1)"; }

# True when the prefix $1 exists with the fonts in it.
wine_prefix_has_fonts() {
  [ -f "$1/system.reg" ] || return 1
  local f
  for f in "${TALVORA_WINE_FONTS[@]}"; do [ -f "$1/drive_c/windows/Fonts/$(basename "$f")" ] || return 1; done
}

# Makes a fresh 64-bit Wine prefix at $1 (removing what is there), logging wineboot to $2, and copies
# the fonts in; $3 is the time wineboot may take (seconds). Returns non-zero when wineboot fails or
# makes no prefix; the prefix's wineserver is stopped either way.
make_wine_prefix() {
  local prefix="$1" log="$2" limit="$3" ok=0
  WINEPREFIX="$prefix" wineserver -k >/dev/null 2>&1 || true
  rm -rf "$prefix"
  if WINEPREFIX="$prefix" WINEARCH=win64 WINEDEBUG=-all timeout "$limit" "$TALVORA_WINE64" wineboot -i >"$log" 2>&1; then
    WINEPREFIX="$prefix" timeout 600 wineserver -w
    if [ -f "$prefix/system.reg" ]; then
      mkdir -p "$prefix/drive_c/windows/Fonts"
      cp "${TALVORA_WINE_FONTS[@]}" "$prefix/drive_c/windows/Fonts/" || ok=1
    else
      ok=1
    fi
  else
    ok=1
  fi
  WINEPREFIX="$prefix" wineserver -k >/dev/null 2>&1 || true
  return "$ok"
}
