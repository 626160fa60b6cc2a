#!/usr/bin/env bash
# Fails when an include in src/ points the wrong way: a library may include its
# own headers and those of the libraries below it, never one above it. Also
# fails when a file whose name does not say its platform includes a platform
# header (POSIX or Windows): platform calls live in *Posix*, *Linux* or *Win32*
# files only.
#   core <- serial <- hdlc <- actuator (may use antenna) <- status <- app <- ui, cli
#   antenna and settings use core only; only app's demo may use the simulator.
set -euo pipefail
cd "$(dirname "$0")/.."

declare -A allowed=(
  [core]="core"
  [serial]="core serial"
  [hdlc]="core serial hdlc"
  [antenna]="core antenna"
  [settings]="core settings"
  [actuator]="core serial hdlc antenna actuator"
  [status]="core serial hdlc antenna settings actuator status"
  [app]="core serial hdlc antenna settings actuator status app"
  [ui]="core serial hdlc antenna settings actuator status app ui"
  [cli]="core serial hdlc antenna settings actuator status app cli"
  [win32ui]="core serial hdlc antenna settings actuator status app ui win32ui"
)
platform_headers='^#include <(unistd|fcntl|termios|poll|pthread|signal|dirent|pty|sched|windows|winbase|winreg)\.h>|^#include <(sys|linux|asm)/'

bad=0
while IFS= read -r file; do
  layer="$(cut -d/ -f2 <<<"$file")"
  if [ -z "${allowed[$layer]+x}" ]; then
    echo "check-layers: $file: folder '$layer' has no place in the layers; add it here" >&2
    bad=1
    continue
  fi
  while IFS= read -r line; do
    target="$(sed -E 's/^#include "([^/"]+)\/.*/\1/' <<<"$line")"
    if [ "$target" = "sim" ]; then
      case "$file" in src/app/Demo*) continue ;; esac
    fi
    if ! grep -qw -- "$target" <<<"${allowed[$layer]}"; then
      echo "check-layers: $file includes $target (${line#\#include }), which $layer may not use" >&2
      bad=1
    fi
  done < <(grep -E '^#include "[^"/]+/' "$file" || true)
  case "$(basename "$file")" in
    *Posix* | *Linux* | *Win32*) ;;
    *)
      if grep -qE "$platform_headers" "$file"; then
        echo "check-layers: $file includes a platform header: $(grep -m1 -E "$platform_headers" "$file")" >&2
        bad=1
      fi
      ;;
  esac
done < <(find src -name '*.h' -o -name '*.cpp' | sort)

# Forward declarations are no way round it: a type defined in a library may not
# be named in code (comments aside) of a library that may not include it. Each
# library's code lives in namespace kvq::<folder> (types at namespace scope start
# their line, the namespace is not indented), and a nested namespace of a header
# (actuator's cmd, ui's ui_text) belongs to its library too.
layers=(core serial hdlc antenna settings actuator status app ui cli win32ui)
declare -A defined namespaces
for layer in "${layers[@]}"; do
  [ -d "src/$layer" ] || continue
  defined[$layer]="$(grep -hoE '^(class|struct|enum class|enum) [A-Z][A-Za-z0-9_]{5,}( final)? *(:|\{)' src/"$layer"/*.h 2>/dev/null |
    sed -E 's/^(class|struct|enum class|enum) ([A-Za-z0-9_]+).*/\2/' | sort -u | tr '\n' ' ')"
  namespaces[$layer]="$({ grep -hoE '^namespace [a-z_]+ \{' src/"$layer"/*.h 2>/dev/null || true; } |
    sed -E 's/^namespace ([a-z_]+).*/\1/' | sort -u | tr '\n' ' ')"
done
for layer in "${layers[@]}"; do
  [ -d "src/$layer" ] || continue
  for other in "${layers[@]}"; do
    [ -d "src/$other" ] || continue
    grep -qw -- "$other" <<<"${allowed[$layer]}" && continue
    # The library's namespace, as kvq::<folder> or relative to kvq, and its nested ones.
    for ns in "$other" ${namespaces[$other]:-}; do
      if hits="$(grep -rnE --include='*.h' --include='*.cpp' -- "(^|[^:A-Za-z0-9_])(kvq::)?$ns::|kvq::$ns\b" "src/$layer" | grep -vE '^[^:]+:[0-9]+:\s*//')"; then
        echo "check-layers: src/$layer names namespace $ns, which belongs to $other:" >&2
        sed 's/^/    /' <<<"$hits" >&2
        bad=1
      fi
    done
    for name in ${defined[$other]}; do
      if hits="$(grep -rnw --include='*.h' --include='*.cpp' -- "$name" "src/$layer" | grep -vE '^[^:]+:[0-9]+:\s*//')"; then
        echo "check-layers: src/$layer names $name, which belongs to $other:" >&2
        sed 's/^/    /' <<<"$hits" >&2
        bad=1
      fi
    done
  done
done

[ "$bad" -eq 0 ] && echo "check-layers: every include points down, platform headers only in platform files"
exit "$bad"
