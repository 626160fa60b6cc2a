#!/bin/sh
# Runs a test binary as a throw-away user without privileges, so the serial
# tests show that the tool needs no root (and root's bypass of file modes does
# not hide a permission fault).
#
#   scripts/run-unprivileged.sh <test-binary> [args...]
#
# Not root: runs the binary as it is. Root: runs a copy of it as the system user
# kvqtest (created on first use), since the build tree may be unreadable to it.
set -eu

if [ "$#" -lt 1 ]; then
    echo "usage: $0 <test-binary> [args...]" >&2
    exit 2
fi
binary=$1
shift

if [ "$(id -u)" -ne 0 ]; then
    exec "$binary" "$@"
fi

user=kvqtest
if ! id -u "$user" >/dev/null 2>&1; then
    # Another run may create the user at the same moment; only its absence counts.
    useradd -r -M -s /usr/sbin/nologin "$user" >/dev/null 2>&1 || true
    if ! id -u "$user" >/dev/null 2>&1; then
        echo "$0: cannot create the user $user" >&2
        exit 1
    fi
fi

workdir=$(mktemp -d)
trap 'rm -rf "$workdir"' EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
chmod 755 "$workdir"
copy="$workdir/$(basename "$binary")"
cp "$binary" "$copy"
chmod 755 "$copy"

cd "$workdir"
status=0
HOME=/tmp setpriv --reuid="$user" --regid="$user" --clear-groups -- "$copy" "$@" || status=$?
exit "$status"
