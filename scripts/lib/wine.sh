# Wine for the project's own use, the one place that says how Wine is run: a private prefix
# under build/, created on first use, and a persistent wineserver that this script starts and
# stops itself. Sourced by the scripts and by cmake/wine-exec, through which CTest runs the tests.
#
#   wine_loader            the program that runs a Windows executable
#   wine_runs_32bit        whether this machine runs 32-bit Windows programs: the one question
#                          that the scripts and CTest ask about it
#   kernel_runs_32bit      whether this machine's kernel runs 32-bit programs at all
#   wine_no_32bit_reason   why Wine runs no 32-bit programs here, in a few words
#   wine_prefix_ready      whether the prefix is there, with all that this machine's Wine runs
#   wine_start [driver]    prepare the prefix and start its server; with no driver argument
#                          Wine's null display driver is used (headless, no DISPLAY needed),
#                          with x11 the X server of DISPLAY, with fonts
#   wine_stop              stop the server of this prefix and everything running in it
#
# VARNEL_WINEPREFIX, set before sourcing, names another prefix (scripts/run keeps its own).
# VARNEL_WINE_DIR (Wine's loaders, /usr/lib/wine) and VARNEL_32BIT_PROBE (a program that runs
# where 32-bit programs run) put stand-ins in their place, for tests/setup_test.sh.

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
export WINEPREFIX="${VARNEL_WINEPREFIX:-$root/build/wine}"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64

wine_dir=${VARNEL_WINE_DIR:-/usr/lib/wine}

# Every Wine command of the scripts goes through this loader, never through Debian's `wine`
# command: once wine32:i386 is installed, that one (and so `wineboot`, `winecfg`...) runs every
# program through the 32-bit loader, which fails on a kernel that refuses 32-bit programs. The
# `wineserver` command is safe: it runs the 64-bit server wherever wine64 is installed.
wine_loader() {
  if [ -x "$wine_dir/wine64" ]; then echo "$wine_dir/wine64"; else echo wine; fi
}

# Debian installs 32-bit Wine as the i386 architecture's wine32, whose loader is $wine_dir/wine.
# It is asked to run, not looked for: where the kernel refuses 32-bit programs, it is there and
# fails with "Exec format error".
wine_runs_32bit() {
  "$wine_dir/wine" --version >/dev/null 2>&1
}

# Asked without installing anything: the kernel runs (or refuses) the smallest static i386
# program, which this writes under build/ and which only ends with status 0. A paravirtualised
# guest, or a container under some sandboxing kernels, refuses it with "Exec format error".
kernel_runs_32bit() {
  local probe=${VARNEL_32BIT_PROBE:-$root/build/i386-probe}
  if [ -z "${VARNEL_32BIT_PROBE:-}" ] && [ ! -x "$probe" ]; then
    mkdir -p "$root/build"
    # Written whole under another name first, so that no one runs half of it.
    {
      # ELF header (52 bytes): the magic; 32-bit, little-endian, ELF version 1, System V ABI, and
      # padding to 16 bytes.
      printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00'
      # An executable (2) for the Intel 386 (3), ELF version 1, starting at 0x08048054 (the code
      # below), its program header at byte 52, no section headers, no flags.
      printf '\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00'
      printf '\x00\x00\x00\x00\x00\x00\x00\x00'
      # This header's size (52), a program header's size (32), one of them; no section headers.
      printf '\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00'
      # The program header (32 bytes): a loadable segment (1), from byte 0 of the file, at
      # 0x08048000 (physical address the same), 93 bytes in the file and in memory (the whole
      # file), readable and executable (5), aligned to a 4 KiB page.
      printf '\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08'
      printf '\x5d\x00\x00\x00\x5d\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00'
      # The code (9 bytes): mov eax, 1 (the system call exit); xor ebx, ebx (status 0);
      # int 0x80 (the 32-bit system call).
      printf '\xb8\x01\x00\x00\x00\x31\xdb\xcd\x80'
    } >"$probe.$$"
    chmod +x "$probe.$$"
    mv -f "$probe.$$" "$probe"
  fi
  "$probe" >/dev/null 2>&1
}

wine_no_32bit_reason() {
  if ! kernel_runs_32bit; then
    echo "this machine's kernel does not run 32-bit programs"
  elif [ -e "$wine_dir/wine" ]; then
    echo "Wine's 32-bit loader does not run: $("$wine_dir/wine" --version 2>&1 | tail -n1)"
  else
    echo "Wine has no 32-bit half here"
  fi
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
    "$loader" wineboot -i >/dev/null 2>&1 </dev/null
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
  # Varnel draws its pane in the console's font, Consolas, which Wine does not have: DejaVu Sans
  # Mono (fonts-dejavu-core) takes its name, a fixed-pitch font with the characters of the code
  # pages that the console speaks.
  "$loader" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v Consolas /d 'DejaVu Sans Mono' \
    /f >/dev/null 2>&1 </dev/null
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
