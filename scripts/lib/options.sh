# shellcheck shell=bash disable=SC2154
# The scripts' shared command-line behaviour, as the tools have it: --help on standard output with
# status 0, --version (the project's), and usage errors naming what was wrong with status 2.
# A script sets tool_name, tool_usage (its usage lines) and tool_details, then sources this.

tool_version() {
  sed -n 's/^project(PluginPandel VERSION \([0-9.]*\).*/\1/p' "$(dirname "${BASH_SOURCE[0]}")/../../CMakeLists.txt"
}

# Handles --help, -h and --version wherever they stand.
tool_help_and_version() {
  local arg
  for arg in "$@"; do
    case "$arg" in
      --help|-h) printf 'usage: %s%s' "$tool_usage" "$tool_details"; exit 0 ;;
      --version) printf '%s %s\n' "$tool_name" "$(tool_version)"; exit 0 ;;
    esac
  done
}

usage_error() {
  printf "%s: %s\nusage: %sTry 'scripts/%s --help' for more.\n" "$tool_name" "$1" "$tool_usage" \
    "$tool_name" >&2
  exit 2
}
