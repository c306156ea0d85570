# Wine for the project's own use, the one place that says how Wine is run: a private prefix
# under build/, created on first use, and a persistent wineserver that this script starts and
# stops itself. Sourced by the scripts and by cmake/wine-exec, through which CTest runs the tests.
#
#   wine_loader            the program that runs a Windows executable
#   wine_runs_32bit        whether this machine's Wine can run 32-bit programs
#   wine_prefix_ready      whether the prefix is there, with all that this machine's Wine runs
#   wine_start [driver]    prepare the prefix and start its server; with no driver argument
#                          Wine's null display driver is used (headless, no DISPLAY needed),
#                          with x11 the X server of DISPLAY, with fonts
#   wine_stop              stop the server of this prefix and everything running in it
#
# VARNEL_WINEPREFIX, set before sourcing, names another prefix (scripts/run keeps its own).

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
export WINEPREFIX="${VARNEL_WINEPREFIX:-$root/build/wine}"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64

wine_loader() {
  if [ -x /usr/lib/wine/wine64 ]; then echo /usr/lib/wine/wine64; else echo wine; fi
}

# Debian installs 32-bit Wine as a separate architecture's package.
wine_runs_32bit() {
  [ -x /usr/lib/wine/wine ] || [ -d /usr/lib/i386-linux-gnu/wine ]
}

# A prefix made while Wine had no 32-bit half holds no 32-bit system (its syswow64 is empty), and
# every 32-bit program fails in it: "could not load kernel32.dll, status c0000135".
wine_prefix_ready() {
  [ -f "$WINEPREFIX/system.reg" ] &&
    { ! wine_runs_32bit || [ -f "$WINEPREFIX/drive_c/windows/syswow64/kernel32.dll" ]; }
}

wine_start() {
  local driver=${1:-null}
  mkdir -p "$root/build"
  local loader
  loader=$(wine_loader)
  if ! wine_prefix_ready; then
    if [ -f "$WINEPREFIX/system.reg" ]; then
      echo "wine: making the prefix $WINEPREFIX anew, for 32-bit Wine" >&2
      wine_stop
      rm -rf "$WINEPREFIX"
    fi
    echo "wine: creating the prefix $WINEPREFIX" >&2
    wineboot -i >/dev/null 2>&1 </dev/null
    # Headless from the first program on; the server writes the registry out when it ends.
    "$loader" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1 </dev/null
    wineserver -k >/dev/null 2>&1 || true
    wineserver -w
  fi
  # The server runs for the whole session so that each program starts quickly; its output goes
  # nowhere, or every program waits for Wine's helpers to let go of its stderr.
  setsid wineserver -p >/dev/null 2>&1 </dev/null &
  wineserver_pid=$!
  trap wine_stop EXIT
  if [ "$driver" = null ]; then
    "$loader" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1 </dev/null
  else
    "$loader" reg delete 'HKCU\Software\Wine\Drivers' /v Graphics /f >/dev/null 2>&1 </dev/null || true
    wine_link_fonts
  fi
  # A crashing program must not wait for someone to close a crash dialog.
  "$loader" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
    >/dev/null 2>&1 </dev/null
}

# Debian's Wine 8 looks for the fonts of the fonts-wine package under a path it cannot open
# ("<data dir>\..\fonts"), so its programs would have no Tahoma, no Marlett (the caption buttons)
# and no Fixedsys (the dialog's font) on a real display. Wine also loads the fonts of the prefix's
# Fonts folder.
wine_link_fonts() {
  local fonts="$WINEPREFIX/drive_c/windows/Fonts" font
  mkdir -p "$fonts"
  for font in /usr/share/wine/fonts/*; do
    [ -e "$font" ] || continue
    [ -e "$fonts/$(basename "$font")" ] || ln -s "$font" "$fonts/"
  done
}

wine_stop() {
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w >/dev/null 2>&1 || true
}
