#!/usr/bin/env bash
# Builds the Debian package kvq_<version>_amd64.deb at the top of the repository:
# the "package" preset (optimised, no tests, with Debian's hardening flags),
# then CPack. Install it with: sudo apt install ./kvq_<version>_amd64.deb
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh

# The compiler and linker flags Debian builds its own packages with, all of
# the hardening included (fortified functions, stack protector, full RELRO,
# immediate binding).
export DEB_BUILD_MAINT_OPTIONS="hardening=+all"
cxxflags="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
ldflags="$(dpkg-buildflags --get LDFLAGS)"
cmake --preset package -DCMAKE_CXX_FLAGS="$cxxflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags" >/dev/null
cmake --build --preset package

rm -f build/package/kvq_*.deb
(cd build/package && cpack >/dev/null)
debs=(build/package/kvq_*_amd64.deb)
if [ ${#debs[@]} -ne 1 ] || [ ! -f "${debs[0]}" ]; then
  echo "package: CPack wrote no package" >&2
  exit 1
fi
rm -f kvq_*_amd64.deb
cp "${debs[0]}" .
echo "package: $(basename "${debs[0]}")"
