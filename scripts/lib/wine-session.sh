# Wine sessions for the Windows builds' tests, headless: no debug channels, no window system, the
# crash dialog and the just-in-time debugger switched off, a fresh prefix under the build
# directory and a persistent server started before the tests. Nothing runs while this file is
# sourced. The caller exports WINEPREFIX (and WINEARCH) before starting a session.
# shellcheck shell=bash

# No debug channels, no Mono or Gecko installer, no menu entries, no debugger; Wine must not try
# to open a display.
wine_headless() {
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d;winedbg.exe=d"
  unset DISPLAY WAYLAND_DISPLAY
}

# Runs one program under the Wine of the build in PANDEL_WIN_BUILD (CTest's emulator) and returns
# its status. Wine's own background processes inherit the program's output streams and outlive
# it: the output goes through files, so that nobody waits for those streams to close. Windows'
# standard output ends its lines in CR LF; CTest and test discovery read LF lines.
wine_run() {
  local build=${PANDEL_WIN_BUILD:-$repo/build-win}
  export WINEPREFIX=${PANDEL_WINEPREFIX:-$build/wineprefix}
  # The GCC runtime DLLs that an i686 build shares between its modules.
  if [ -n "${PANDEL_WIN_RUNTIME_PATH:-}" ]; then
    export WINEPATH="${WINEPATH:+$WINEPATH;}$PANDEL_WIN_RUNTIME_PATH"
  fi
  local out err status=0
  out=$(mktemp) err=$(mktemp)
  wine "$@" </dev/null >"$out" 2>"$err" || status=$?
  tr -d '\r' <"$out"
  cat "$err" >&2
  rm -f "$out" "$err"
  return "$status"
}

# Wine's launcher takes the 32-bit loader whenever Debian's wine32 is installed, also for 64-bit
# programs, and that loader cannot start where 32-bit programs do not run. Each bitness gets its
# own loader: `wine` and `wine-stable` (which wineboot and the other tools call) on PATH, and
# WINELOADER for the processes Wine starts itself. PRELOAD, where given, goes into every Wine
# process (the library that mends qemu).
wine_use_loader() {
  local arch=$1 build=$2 preload="" loader name
  [ -z "${3:-}" ] || preload="export LD_PRELOAD='$3'
"
  case "$arch" in
    x86_64) loader=/usr/lib/wine/wine64 ;;
    i686) loader=/usr/lib/wine/wine ;;
  esac
  local dir=$build/wine-loader
  mkdir -p "$dir"
  for name in wine wine-stable; do
    printf '#!/bin/sh\n%sexec %s "$@"\n' "$preload" "$loader" >"$dir/$name"
    chmod +x "$dir/$name"
  done
  export PATH="$dir:$PATH" WINELOADER=$loader
}

# Ends every process of this prefix's Wine session, also those whose server is gone.
wine_end_session() {
  wineserver -k 2>/dev/null || true
  local environ pid exe
  for environ in /proc/[0-9]*/environ; do
    pid=${environ#/proc/}
    pid=${pid%/environ}
    exe=$(readlink "/proc/$pid/exe" 2>/dev/null) || continue
    case "$exe" in
      */qemu-i386-static | /usr/lib/wine/*) ;;
      *) continue ;;
    esac
    if tr '\0' '\n' <"$environ" 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX"; then
      kill -9 "$pid" 2>/dev/null || true
    fi
  done
}

# A fresh prefix, so that no state of an earlier run can make a test pass; the crash dialog and
# the just-in-time debugger off.
wine_new_prefix() {
  rm -rf "$WINEPREFIX"
  timeout 300 wineboot -i >/dev/null 2>&1 &&
    timeout 120 wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD \
      /d 0 /f >/dev/null 2>&1 || return 1
  local key
  for key in 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' \
    'HKLM\Software\Wow6432Node\Microsoft\Windows NT\CurrentVersion\AeDebug'; do
    timeout 120 wine reg add "$key" /v Auto /t REG_SZ /d 0 /f >/dev/null 2>&1 || true
    timeout 120 wine reg delete "$key" /v Debugger /f >/dev/null 2>&1 || true
  done
}

# The server that made the prefix gone, a persistent one in its place.
wine_persistent_server() {
  # The adapter query can fail while the server that made the prefix still runs.
  timeout 120 wineserver -w || true
  wineserver -k 2>/dev/null || true
  wineserver -p
}

# Whether a first program runs: it starts the session's services; under qemu that takes a while.
# Through a file: the services outlive the program and hold its output streams.
wine_session_answers() {
  local said status=0
  said=$(mktemp)
  timeout 180 wine cmd /c echo session-up </dev/null >"$said" 2>/dev/null || true
  grep -q session-up "$said" || status=1
  rm -f "$said"
  return "$status"
}

# A fresh prefix and a persistent server with its services started. Under qemu a session's start
# now and then hangs for good, its server gone: each step is bounded, and a start that fails is
# made again from nothing, up to three times. NAME goes into the messages.
wine_start_session() {
  local name=$1 try
  for try in 1 2 3; do
    wine_end_session
    if wine_new_prefix; then
      wine_persistent_server || true
      wine_session_answers && return 0
    fi
    echo "$name: the Wine session did not start (try $try of 3)" >&2
  done
  wine_end_session
  return 1
}
