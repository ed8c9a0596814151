# The scripts' one option reader, with the tools' command-line behaviour: --help on standard
# output with status 0, --version (the project's), and usage errors naming what was wrong with
# status 2; all of it before the script does anything else.
#
# A script sets these, sources this file, then calls tool_parse "$@":
#   tool_name     its name (scripts/NAME)
#   tool_usage    its usage lines; tool_details the rest of its --help text
#   tool_options  the options it takes, each written as
#                   --flag       no value
#                   --name=      a value, as "--name VALUE" or "--name=VALUE"
#                   --name=a|b   one of these values
#                   --name...    the arguments after it go on to another program
#                   --...        the arguments after a bare "--" go on to another program
#   tool_args     how many plain arguments it takes: N, MIN-MAX or MIN- (no limit); default 0
# and reads back opt[name] (the value; 1 for the others), args (the plain arguments) and rest
# (what goes on to another program). Without --..., a bare "--" ends the options.
# shellcheck shell=bash disable=SC2154,SC2034 # the tool_ variables in, opt, args and rest out

tool_version() {
  sed -n 's/^project(PluginPandel VERSION \([0-9.]*\).*/\1/p' "$(dirname "${BASH_SOURCE[0]}")/../../CMakeLists.txt"
}

usage_error() {
  printf "%s: %s\nusage: %sTry 'scripts/%s --help' for more.\n" "$tool_name" "$1" "$tool_usage" \
    "$tool_name" >&2
  exit 2
}

# How the script declared option $1, or nothing.
tool_option() {
  local spec
  for spec in "${tool_options[@]}"; do
    case "$spec" in
      "$1" | "$1="* | "$1...") echo "$spec"; return ;;
    esac
  done
}

# --help and --version win wherever they stand before the arguments that go on; otherwise the
# first thing wrong is reported.
tool_parse() {
  declare -gA opt=()
  args=() rest=()
  local arg name spec value choices ask="" error="" min max
  while [ $# -gt 0 ]; do
    arg=$1
    shift
    case "$arg" in
      --help | -h) ask=${ask:-help}; continue ;;
      --version) ask=${ask:-version}; continue ;;
      --)
        if [ -n "$(tool_option --)" ]; then rest=("$@"); else args+=("$@"); fi
        break ;;
      -?*) ;;
      *) args+=("$arg"); continue ;;
    esac
    name=${arg%%=*}
    spec=$(tool_option "$name")
    case "$spec" in
      "") error=${error:-"unknown option $arg"} ;;
      *=*)
        if [ "$arg" != "$name" ]; then
          value=${arg#*=}
        elif [ $# -gt 0 ]; then
          value=$1
          shift
        else
          error=${error:-"$name needs a value"}
          continue
        fi
        choices=${spec#*=}
        if [ -n "$choices" ] && [[ "|$choices|" != *"|$value|"* ]]; then
          error=${error:-"$name takes ${choices//|/ or }, not '$value'"}
        fi
        opt[${name#--}]=$value ;;
      *)
        [ "$arg" = "$name" ] || error=${error:-"$name takes no value"}
        opt[${name#--}]=1
        if [ "$spec" = "$name..." ]; then
          rest=("$@")
          break
        fi ;;
    esac
  done

  case "$ask" in
    help) printf 'usage: %s%s' "$tool_usage" "$tool_details"; exit 0 ;;
    version) printf '%s %s\n' "$tool_name" "$(tool_version)"; exit 0 ;;
  esac
  [ -z "$error" ] || usage_error "$error"
  min=${tool_args:-0} max=${tool_args:-0}
  min=${min%-*} max=${max#*-}
  [ ${#args[@]} -ge "$min" ] || usage_error "too few arguments: $min needed, ${#args[@]} given"
  [ -z "$max" ] || [ ${#args[@]} -le "$max" ] || usage_error "unexpected argument '${args[max]}'"
}
