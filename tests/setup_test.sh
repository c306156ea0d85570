#!/usr/bin/env bash
# What scripts/setup does about 32-bit Wine on three machines made of stand-ins: apt-get, dpkg and
# dpkg-query that keep the machine's i386 packages in a file and log what they change, and a
# 32-bit program (Wine's 32-bit loader, the kernel's probe) that runs, or fails as it does on a
# kernel that refuses 32-bit programs. Each machine is set up twice; the second run changes
# nothing. Then the Wine commands of the scripts on the machine left broken.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
m=$(mktemp -d)
trap 'rm -rf "$m"' EXIT
mkdir "$m/bin" "$m/wine"
export PATH="$m/bin:$PATH" VARNEL_WINE_DIR="$m/wine" VARNEL_32BIT_PROBE="$m/bin/program32"

stub() {
  printf '#!/usr/bin/env bash\nm=%q\n%s\n' "$m" "$2" >"$m/bin/$1"
  chmod +x "$m/bin/$1"
}
stub program32 'grep -qx runs "$m/kernel" && exit
echo "bash: $0: cannot execute binary file: Exec format error" >&2; exit 126'
stub sudo 'exec "$@"'
# Installed: every package but those of the i386 architecture that $m/i386 does not list.
stub dpkg-query 'p=${!#}
[ "${p%:i386}" = "$p" ] || grep -qx "$p" "$m/i386" && echo "install ok installed"'
stub dpkg '[ "$1" = --print-foreign-architectures ] && exec cat "$m/architectures"
echo "dpkg $*" >>"$m/log"'
stub apt-get 'words=(); for a; do [ "$a" = -s ] && { echo "Inst ${!#} (8.0)"; exit; }
  [ "${a#-}" = "$a" ] && words+=("$a"); done
echo "apt-get ${words[*]}" >>"$m/log"
case ${words[0]} in
  install) echo "${words[1]}" >>"$m/i386"; cp "$m/bin/program32" "$m/wine/wine" ;;
  remove) sed -i "/^${words[1]}\$/d" "$m/i386"; rm "$m/wine/wine" ;;
esac'

failed=0
fail() {
  echo "FAIL: $*"
  failed=1
}

# machine NAME KERNEL(runs|refuses) I386-PACKAGES, then what setup's first run prints, what it
# changes, and what its second run prints.
machine() {
  echo "$2" >"$m/kernel"
  printf '%s\n' $3 >"$m/i386"
  [ -n "$3" ] && echo i386 >"$m/architectures" || : >"$m/architectures"
  rm -f "$m/wine/wine" && : >"$m/log"
  grep -qx wine32:i386 "$m/i386" && cp "$m/bin/program32" "$m/wine/wine"
  local got
  got="$("$root/scripts/setup" 2>&1)|$(cat "$m/log")|$("$root/scripts/setup" 2>&1)|$(cat "$m/log")"
  [ "$got" = "$4|$5|$6|$5" ] || fail "$1: printed|changed|printed again|changed: $got"
}

kernel="this machine's kernel does not run 32-bit programs"
refused="setup: no 32-bit Wine, so the 32-bit build's tests are off ($kernel)"
removed="setup: removed wine32:i386, which Debian's wine would run every program through"
removed+=" ($kernel); the 32-bit build's tests are off"
machine "runs 32-bit programs" runs "" "setup: installing wine32:i386" \
  "dpkg --add-architecture i386
apt-get update
apt-get install wine32:i386" ""
machine "refuses them" refuses "" "$refused" "" "$refused"
machine "left broken" refuses "libc6:i386 wine32:i386" "$removed" "apt-get remove wine32:i386" \
  "$refused"

# Where the broken wine32 stays, every Wine command goes through the 64-bit loader, none through
# the commands on PATH.
echo refuses >"$m/kernel" && cp "$m/bin/program32" "$m/wine/wine" && : >"$m/log"
for command in wine wineboot wine64; do stub "$command" "echo $command \$* >>\$m/log"; done
mv "$m/bin/wine64" "$m/wine/wine64" && stub wineserver :
(
  export VARNEL_WINEPREFIX="$m/prefix"
  source "$root/scripts/lib/wine.sh"
  wine_start null && "$(wine_loader)" test.exe
) >/dev/null 2>&1
grep -q '^wine64 wineboot -i' "$m/log" && grep -q '^wine64 test.exe' "$m/log" &&
  ! grep -q '^wine\(boot\)\? ' "$m/log" || fail "Wine commands: $(cat "$m/log")"
exit "$failed"
