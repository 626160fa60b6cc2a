#!/usr/bin/env bash
# The settings decide at start whether the program runs: a variant it does not
# serve ends it at once with exit code 0, no window and nothing on the standard
# output, one sentence on the standard error naming the file, the key, the value
# and the accepted values; no settings file runs it.
set -u
kvq="$1"
examples="$2"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cp "$examples/KVQ_SAMPLE.ascu" "$work/"
export QT_QPA_PLATFORM=offscreen
export KVQ_SERIAL_PORTS="COM1=/dev/kvq-no-such-port"
failures=0

fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# variant line | expected: "exits" (silent, code 0, at once) or "runs"
cases=(
  "Variant=VLX400|exits"
  "Variant=e-vlx400|exits"
  "Variant=|exits"
  "Variant=E-VLX400 |runs"
  "Variant=VLX400-002|runs"
  "variant = E-VLX400|runs"
  "|runs"
)

for c in "${cases[@]}"; do
  line="${c%|*}"
  expect="${c##*|}"
  rm -f "$work/KVQ.INI"
  [ -n "$line" ] && printf '[VLX400]\r\n%s\r\n' "$line" > "$work/KVQ.INI"
  start=$(date +%s%N)
  (cd "$work" && exec "$kvq" >"$work/out" 2>"$work/err") &
  pid=$!
  if [ "$expect" = exits ]; then
    for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.01; done
    if kill -0 "$pid" 2>/dev/null; then
      kill -9 "$pid"; wait "$pid" 2>/dev/null
      fail "'$line': still running after 1 s"
      continue
    fi
    wait "$pid"; code=$?
    [ "$code" -eq 0 ] || fail "'$line': exit code $code, expected 0"
    [ -s "$work/out" ] && fail "'$line': printed something: $(head -c 200 "$work/out")"
    value="${line#*=}"
    said="$(cat "$work/err")"
    [ "$(wc -l <"$work/err")" -eq 1 ] || fail "'$line': not one line on stderr: $said"
    for part in "$work/KVQ.INI" "Variant" "\"$value\"" '"E-VLX400" or "VLX400-002"'; do
      [ -z "$value" ] && [ "$part" = '""' ] && part="Variant to nothing"
      case "$said" in *"$part"*) ;; *) fail "'$line': stderr does not say $part: $said" ;; esac
    done
  else
    sleep 2
    if kill -0 "$pid" 2>/dev/null; then
      kill -9 "$pid"; wait "$pid" 2>/dev/null
    else
      wait "$pid"; code=$?
      fail "'${line:-no settings file}': ended with code $code instead of starting: $(head -c 300 "$work/err")"
    fi
  fi
done

[ "$failures" -eq 0 ] && echo "variant rule: ${#cases[@]} passed, 0 failed"
exit $(( failures > 0 ))
