# Sourced by the setup scripts: the apt source of bookworm-backports, where qemu-user (for the 32-bit
# programs) and osslsigncode (for signing the release) come from. Needs $SUDO set by the caller.
TALVORA_BACKPORTS_SOURCE=/etc/apt/sources.list.d/talvora-backports.sources

# Writes the source when it is missing or different. Returns 0 when it wrote it (apt-get update is
# due), 1 when it was already there, 2 when it could not write it.
enable_backports() {
  local want
  want=$'Types: deb\nURIs: http://deb.debian.org/debian\nSuites: bookworm-backports\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg'
  [ -f "$TALVORA_BACKPORTS_SOURCE" ] && [ "$(cat "$TALVORA_BACKPORTS_SOURCE")" = "$want" ] && return 1
  printf '%s\n' "$want" | $SUDO tee "$TALVORA_BACKPORTS_SOURCE" >/dev/null || return 2
}
