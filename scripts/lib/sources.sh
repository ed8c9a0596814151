# shellcheck shell=bash
# Debian source packages the builds compile from, fetched once with apt-get source into a cache
# and used offline from then on. Sourced; the caller sets SUDO ("" or sudo).
#   fetch_source DIR PACKAGE GLOB   prints the unpacked source directory of PACKAGE under DIR
#                                   (found by GLOB), fetching it when it is not there yet

# The SOAP runtime's source, compiled into the module on every platform (report/soap.cmake).
PANDEL_SOURCE_CACHE=${PANDEL_SOURCE_CACHE:-/opt/pandel-src}
PANDEL_GSOAP_VERSION=2.8.124

# A deb-src entry for the archive this machine already uses.
ensure_deb_src() {
  local deb_src=/etc/apt/sources.list.d/pandel-deb-src.sources uris suite
  [ -f "$deb_src" ] && return 0
  uris=$(sed -n 's/^URIs:[[:space:]]*//p' /etc/apt/sources.list.d/debian.sources 2>/dev/null |
    head -n1)
  [ -n "$uris" ] || uris=$(awk '$1 == "deb" { print $2; exit }' /etc/apt/sources.list 2>/dev/null)
  [ -n "$uris" ] || { echo "sources: no Debian archive configured" >&2; return 1; }
  suite=$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")
  echo "sources: adding deb-src for $uris $suite" >&2
  $SUDO tee "$deb_src" >/dev/null <<SOURCES
Types: deb-src
URIs: $uris
Suites: $suite $suite-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SOURCES
  $SUDO apt-get update -qq
}

fetch_source() {
  local dir=$1 package=$2 glob=$3 found
  $SUDO mkdir -p "$dir"
  found=$(find "$dir" -maxdepth 1 -type d -name "$glob" | head -n1)
  if [ -z "$found" ]; then
    ensure_deb_src || return 1
    echo "sources: fetching the source package $package" >&2
    (cd "$dir" && $SUDO apt-get source -qq "$package" >/dev/null) || return 1
    found=$(find "$dir" -maxdepth 1 -type d -name "$glob" | head -n1)
  fi
  [ -n "$found" ] || { echo "sources: source of $package not found" >&2; return 1; }
  echo "$found"
}
