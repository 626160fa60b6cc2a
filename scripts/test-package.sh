#!/usr/bin/env bash
# The Debian package as a technician gets it: builds it (scripts/package.sh),
# checks it with lintian (no errors) and desktop-file-validate, checks what it
# holds and depends on, then installs it, runs the installed kvqctl and kvq on
# the simulated actuator, and removes it again, also when a step fails.
# Installing needs root: without it, that part is skipped and said so.
set -euo pipefail
cd "$(dirname "$0")/.."
top="$(pwd)"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

scripts/package.sh
version="$(sed -nE 's/^project\(kvq VERSION ([0-9.]+).*/\1/p' CMakeLists.txt)"
deb="$top/kvq_${version}_amd64.deb"
[ -f "$deb" ] || { echo "FAIL: no $deb"; exit 1; }

work="$(mktemp -d)"
installed=0
cleanup() {
  if [ "$installed" -eq 1 ]; then
    echo "== removing the package"
    dpkg -r kvq >/dev/null || echo "FAIL: dpkg -r kvq failed"
  fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 143' TERM INT

echo "== lintian"
# Errors fail the test; warnings are shown.
lintian --fail-on error --tag-display-limit 0 "$deb" || fail "lintian found errors"

echo "== contents"
dpkg-deb -x "$deb" "$work/root"
for path in usr/bin/kvq usr/bin/kvqctl usr/bin/vlx400-sim \
  usr/share/man/man1/kvq.1.gz usr/share/man/man1/kvqctl.1.gz usr/share/man/man1/vlx400-sim.1.gz \
  usr/share/applications/kvq.desktop usr/share/icons/hicolor/48x48/apps/kvq.png \
  usr/share/icons/hicolor/256x256/apps/kvq.png \
  usr/share/kvq/examples/KVQ_SAMPLE.ascu usr/share/doc/kvq/examples/KVQ_SAMPLE.ascu \
  usr/share/doc/kvq/copyright usr/share/doc/kvq/changelog.gz; do
  [ -s "$work/root/$path" ] || fail "the package has no /$path"
done
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$work/root/usr/share/applications/kvq.desktop" || fail "desktop entry"
fi
# Each manual page documents every option its program's --help names.
for program in kvq kvqctl vlx400-sim; do
  page="$(zcat "$work/root/usr/share/man/man1/$program.1.gz" | sed 's/\\-/-/g')"
  for option in $("$work/root/usr/bin/$program" --help 2>&1 | grep -oE -- '--[a-z][a-z-]+' | sort -u); do
    grep -qF -- "$option" <<<"$page" || fail "$program(1) does not name $option"
  done
done
# Only the libraries the programs link (the Qt 6 runtime, the C and C++ runtimes)
# and the Qt platform plugins they load.
depends="$(dpkg-deb -f "$deb" Depends)"
echo "Depends: $depends"
grep -q 'libqt6widgets6' <<<"$depends" || fail "Depends lacks the Qt 6 widgets library: $depends"
grep -q 'qt6-qpa-plugins' <<<"$depends" || fail "Depends lacks Qt's platform plugins: $depends"
for dependency in $(tr ',' '\n' <<<"$depends" | sed -E 's/^ *([^ ]+).*/\1/'); do
  case "$dependency" in
    libc6 | libgcc-s1 | libstdc++6 | libqt6* | qt6-qpa-plugins) ;;
    *) fail "Depends names $dependency, which is not a runtime library the programs link" ;;
  esac
done

echo "== the note on the group dialout"
# The package's own postinst, run as dpkg runs it, for each way it can be
# installed; a stub `id` stands in for a user who is in dialout already.
dpkg-deb -e "$deb" "$work/control"
mkdir -p "$work/member" && printf '#!/bin/sh\necho "nobody dialout"\n' >"$work/member/id" && chmod +x "$work/member/id"
nobody_uid="$(id -u nobody)"
while IFS='|' read -r what env_args previous expected; do
  # shellcheck disable=SC2086 # the variables are words on purpose
  said="$(env -u SUDO_USER -u PKEXEC_UID $env_args sh "$work/control/postinst" configure "$previous")"
  case "$expected" in
    "") [ -z "$said" ] || fail "postinst, $what: said: $said" ;;
    *) grep -qF -- "$expected" <<<"$said" || fail "postinst, $what: expected '$expected', said: $said" ;;
  esac
done <<EOF_CASES
sudo, outside dialout|SUDO_USER=nobody||sudo usermod -aG dialout nobody
pkexec, outside dialout|PKEXEC_UID=$nobody_uid||sudo usermod -aG dialout nobody
an upgrade says nothing again|SUDO_USER=nobody|1.3.0|
already in dialout|SUDO_USER=nobody PATH=$work/member:$PATH||
root itself: who will use it is not known|SUDO_USER=root||sudo usermod -aG dialout USER
no sudo, no pkexec|||sudo usermod -aG dialout USER
EOF_CASES

if [ "$(id -u)" -ne 0 ]; then
  echo "== install: skipped (installing needs root; CI runs as root)"
elif dpkg-query -W -f='${Status}' kvq 2>/dev/null | grep -q "install ok installed"; then
  fail "kvq is already installed on this machine; remove it (dpkg -r kvq) so the test can install its own"
else
  echo "== install"
  # As installed with sudo by a user outside the group dialout: the note says
  # once how to join it.
  installed=1
  SUDO_USER=nobody DEBIAN_FRONTEND=noninteractive timeout 600 \
    apt-get install -y -q --no-install-recommends "$deb" >"$work/install.log" 2>&1 || { cat "$work/install.log"; fail "apt-get install"; }
  grep -q "kvq: nobody is not in the group dialout" "$work/install.log" ||
    fail "installing did not say how to join dialout: $(cat "$work/install.log")"

  echo "== the installed programs"
  mkdir -p "$work/run" && cd "$work/run"
  unset KVQ_SERIAL_PORTS
  timeout 90 /usr/bin/kvqctl --demo status >out 2>err || fail "/usr/bin/kvqctl --demo status: exit code $?: $(cat err)"
  grep -q "READY" out || fail "kvqctl --demo status: not READY: $(cat out err)"
  QT_QPA_PLATFORM=offscreen timeout 90 /usr/bin/kvq --demo --screenshot "$work/run/ready.png" >out 2>err ||
    fail "/usr/bin/kvq --demo --screenshot: exit code $?: $(cat err)"
  [ "$(head -c 8 ready.png 2>/dev/null | od -An -tx1 | tr -d ' \n')" = "89504e470d0a1a0a" ] ||
    fail "kvq --demo --screenshot wrote no PNG: $(cat err)"
  grep -q "antenna table from /usr/bin/../share/kvq/examples/KVQ_SAMPLE.ascu" err ||
    fail "the installed demo did not use the installed sample table: $(cat err)"
  cd "$top"

  echo "== removing the package"
  installed=0
  dpkg -r kvq >/dev/null || fail "dpkg -r kvq"
  for program in kvq kvqctl vlx400-sim; do
    [ -e "/usr/bin/$program" ] && fail "/usr/bin/$program is still there after removal"
  done
fi

[ "$failures" -eq 0 ] || { echo "package test: $failures failed"; exit 1; }
echo "package test passed"
