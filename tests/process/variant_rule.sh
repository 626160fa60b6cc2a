#!/usr/bin/env bash
# The settings decide at start whether the program runs: a variant it does not
# serve ends it at once, silently, with exit code 0; no settings file runs it.
set -u
kvq="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failures=0

fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# variant line | expected: "exits" (silent, code 0, at once) or "runs"
cases=(
  "Variant=VLX400|exits"
  "Variant=e-vlx400|exits"
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
  (cd "$work" && timeout 20 "$kvq" --port /dev/kvq-no-such-port --seconds 2 >"$work/out" 2>&1)
  code=$?
  ms=$(( ($(date +%s%N) - start) / 1000000 ))
  if [ "$expect" = exits ]; then
    [ "$code" -eq 0 ] || fail "'$line': exit code $code, expected 0"
    [ -s "$work/out" ] && fail "'$line': printed something: $(head -c 200 "$work/out")"
    [ "$ms" -lt 1000 ] || fail "'$line': took ${ms} ms to end"
  else
    [ "$code" -eq 0 ] || fail "'${line:-no settings file}': exit code $code, expected 0"
    grep -q "INITIALIZING" "$work/out" || fail "'${line:-no settings file}': did not start: $(head -c 300 "$work/out")"
  fi
done

[ "$failures" -eq 0 ] && echo "variant rule: ${#cases[@]} passed, 0 failed"
exit $(( failures > 0 ))
