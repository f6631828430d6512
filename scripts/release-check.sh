#!/usr/bin/env bash
# The release check: builds the Debian package, checks it with lintian,
# installs it into this machine as an administrator would
# (apt-get install ./ocumbra_*.deb), runs ocumbra-sim on a sample image and
# starts ocumbra from its desktop entry's command line under a virtual X
# server, then purges the package and checks that nothing of it is left.
#
#   scripts/release-check.sh [BUILD_DIR]
#
# Without BUILD_DIR the package is built in a clean build folder,
# build-release/ (removed first). With BUILD_DIR (scripts/test.sh passes its
# Release build/) that build is packaged as it is: the package is made from
# a fresh `cmake --install` into CPack's own staging folder either way.
#
# Installs into the machine, so it needs root, and it refuses to run while a
# package named ocumbra is installed already (it would replace and purge it).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)

if [ "$(id -u)" -ne 0 ]; then
  echo "release-check: installing the package needs root" >&2
  exit 2
fi
if dpkg-query -W -f='${Status}' ocumbra 2>/dev/null | grep -q 'install ok installed'; then
  echo "release-check: a package ocumbra is installed already; remove it first" >&2
  exit 2
fi
"$top/scripts/setup.sh"

if [ $# -ge 1 ]; then
  build=$(cd "$1" && pwd)
  echo "== release check: packaging the build in $build"
  cmake --build "$build"
else
  build="$top/build-release"
  echo "== release check: a clean build in $build"
  rm -rf "$build"
  cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    -DOCUMBRA_TESTS=OFF -DOCUMBRA_BENCH=OFF -DOCUMBRA_FUZZ=OFF >/dev/null
  cmake --build "$build" -j "$(nproc)"
fi

pkgdir="$build/package"
rm -rf "$pkgdir"
(cd "$build" && cpack -G DEB -B "$pkgdir" >/dev/null)
debs=("$pkgdir"/ocumbra_*.deb)
if [ ${#debs[@]} -ne 1 ] || [ ! -f "${debs[0]}" ]; then
  echo "release-check: cpack made no single ocumbra_*.deb in $pkgdir" >&2
  exit 1
fi
deb=${debs[0]}
echo "== $deb"
dpkg-deb --field "$deb"

echo "== lintian (errors fail the check; warnings are listed)"
lintian --fail-on error --tag-display-limit 0 "$deb"

workdir=$(mktemp -d)
cleanup() {
  rm -rf "$workdir"
  if dpkg-query -W -f='${Status}' ocumbra 2>/dev/null | grep -q 'install ok'; then
    DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq ocumbra >/dev/null || true
  fi
}
trap cleanup EXIT

echo "== apt-get install ./$(basename "$deb")"
(cd "$pkgdir" && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "./$(basename "$deb")" >/dev/null)
for f in /usr/bin/ocumbra /usr/bin/ocumbra-sim /usr/share/applications/ocumbra.desktop; do
  test -e "$f" || { echo "release-check: $f is not installed" >&2; exit 1; }
done
test "$(command -v ocumbra)" = /usr/bin/ocumbra
ocumbra --version
ocumbra-sim --version

echo "== ocumbra-sim on a sample image (the plug-in and the default polar plot from the package)"
sample=/usr/share/ocumbra/NatIm13.jpg
(cd "$workdir" && ocumbra-sim fixdep --at 300,200 "$sample" fixdep.png &&
  ocumbra-sim glare --glare 5 "$sample" glare.png)
test -s "$workdir/fixdep.png" && test -s "$workdir/glare.png"

echo "== ocumbra from its desktop entry's command line, on a sample image"
exec_line=$(sed -n 's/^Exec=//p' /usr/share/applications/ocumbra.desktop)
read -r -a command <<<"${exec_line//%f/\/usr\/share\/ocumbra\/chelsea.jpg}"
(cd "$workdir" && "$top/scripts/check-window.sh" --seconds 1 "${command[@]}")

echo "== apt-get purge ocumbra"
DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq ocumbra >/dev/null
if dpkg-query -W -f='${Status}' ocumbra 2>/dev/null | grep -q 'install ok'; then
  echo "release-check: ocumbra is still installed" >&2
  exit 1
fi
# Every file the package held, and its own folders, are gone.
left=0
while read -r path; do
  if [ -e "$path" ]; then
    echo "release-check: $path is left after the purge" >&2
    left=1
  fi
done < <(dpkg-deb --fsys-tarfile "$deb" | tar -t | sed -n 's|^\./|/|p' | grep -v '/$';
         printf '%s\n' /usr/share/ocumbra /usr/share/doc/ocumbra /usr/lib/*/ocumbra)
test "$left" -eq 0
echo "== release check passed"
