#!/usr/bin/env bash
# Builds the Windows programs (windows preset, mingw-w64, linked statically) and
# packs build/kvq-windows-x64.zip: kvq.exe, kvqctl.exe, the sample antenna
# table and a short read-me. Fails when a program would need a DLL that
# Windows does not bring itself.
set -euo pipefail
cd "$(dirname "$0")/.."

{ command -v zip && command -v unzip; } >/dev/null || scripts/deps.sh
cmake --preset windows >/dev/null
cmake --build build/windows --target kvq kvqctl

programs=(build/windows/src/ui/kvq.exe build/windows/src/cli/kvqctl.exe)
# The DLLs every Windows has; anything else would have to travel with the programs.
system_dlls='^(kernel32|user32|gdi32|comctl32|comdlg32|advapi32|shell32|ole32|oleaut32|msvcrt|ws2_32|setupapi|winmm|version|bcrypt|ntdll)\.dll$'
for exe in "${programs[@]}"; do
  # Read first, so a failing objdump stops the script rather than passing the check.
  dlls="$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p')"
  [ -n "$dlls" ] || { echo "package-windows: no imports read from $exe" >&2; exit 1; }
  while read -r dll; do
    if ! tr '[:upper:]' '[:lower:]' <<<"$dll" | grep -qE "$system_dlls"; then
      echo "package-windows: $exe needs $dll, which Windows does not bring" >&2
      exit 1
    fi
  done <<<"$dlls"
done

stage="$(mktemp -d "${TMPDIR:-/tmp}/kvq-package.XXXXXX")"
trap 'rm -rf "$stage"' EXIT
dir="$stage/kvq-windows-x64"
mkdir -p "$dir/examples"
# Without their debugging information: a tenth of the size.
for exe in "${programs[@]}"; do
  x86_64-w64-mingw32-strip -o "$dir/$(basename "$exe")" "$exe"
done
# Beside the programs the tool reads it when started from this folder; under
# examples the demo finds it from anywhere.
cp examples/KVQ_SAMPLE.ascu "$dir/"
cp examples/KVQ_SAMPLE.ascu "$dir/examples/"
version="$(sed -n 's/^project(kvq VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)"
sed 's/$/\r/' >"$dir/README.txt" <<TEXT
Torvin E-VLX400 Configuration Tool $version for Windows (64-bit)

kvq.exe      the configuration dialog
kvqctl.exe   the same tool for the command line and for scripts
KVQ_SAMPLE.ascu   the sample antenna table

Both programs need nothing else: no installation, no DLL beside them.
Unpack the folder anywhere and start the programs from it: they read the
antenna table (the *.ascu file) and KVQ.INI from the folder they are started
in, so put your own antenna table there in place of the sample.

Connect the actuator through an RS-485 adapter; it appears as a COM port
(Device Manager, "Ports (COM & LPT)"). kvq.exe opens the lowest port found;
the Communication menu changes it. kvqctl.exe takes --port COM3 and one
command, for example:

    kvqctl.exe --port COM3 status
    kvqctl.exe --port COM3 set-tilt 6.5
    kvqctl.exe --help

To try the tool without an actuator, start either program with --demo: a
simulated actuator answers on COM1 inside the program.

    kvq.exe --demo
    kvqctl.exe --demo status
TEXT

rm -f build/kvq-windows-x64.zip
(cd "$stage" && zip -q -r -X "$OLDPWD/build/kvq-windows-x64.zip" kvq-windows-x64)
echo "package-windows: build/kvq-windows-x64.zip"
unzip -l build/kvq-windows-x64.zip
