#!/usr/bin/env bash
# Makes the release of the commit HEAD names:
#   dist/quorlen-<version>-windows.zip   quorlen.exe, quorlen32.exe, the user
#                                        guide, the licence and the changelog
#   dist/quorlen-<version>-linux-x86_64.tar.gz
#                                        the Linux program (Qt 6 from the
#                                        system), its desktop entry and icon,
#                                        the Linux guide, licence and changelog
#   dist/quorlen_<version>_amd64.deb     the same program as a Debian package
#                                        for Debian 12 and its kin
#   dist/SHA256SUMS                      sha256sum's format, for every archive
#
#   tools/release.sh [--e2e] [--allow-dirty]
#
# The tree comes from `git archive` of the commit, never from the work tree, so
# nothing uncommitted can get in; a work tree with uncommitted changes is
# refused unless --allow-dirty. Everything is built twice, in two directories
# of different names under build/release/, and every output is compared byte
# for byte: the release fails, naming the file, if the two differ. Dates come
# from the commit (SOURCE_DATE_EPOCH). dist/ is emptied first.
#
# --e2e  afterwards unpacks the archives and runs the end-to-end suites on
#        their programs: tests/e2e/quorlen_e2e.py on both Windows programs,
#        tests/e2e/linux_smoke.py on the Linux one. Then it installs the .deb
#        on this machine (as root, or through sudo), runs linux_smoke.py on
#        /usr/bin/quorlen, removes the package and checks that none of its
#        files is left. It binds UDP 127.0.0.1:10023; on a machine shared by
#        several checkouts set QUORLEN_PORT_LOCK to a lock file, and only the
#        suite's runs hold it.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

e2e=0
allow_dirty=0
for arg in "$@"; do
  case "$arg" in
    --e2e) e2e=1 ;;
    --allow-dirty) allow_dirty=1 ;;
    *)
      sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//' >&2
      exit 2
      ;;
  esac
done

fail() {
  echo "release: $*" >&2
  exit 1
}

# The commit, and whether the work tree differs from it.
check_tree() {
  commit=$(git rev-parse --verify HEAD) || fail "not a git work tree"
  local changed
  changed=$(git status --porcelain --untracked-files=no)
  if [ -n "$changed" ]; then
    echo "$changed" >&2
    if [ "$allow_dirty" = 1 ]; then
      echo "release: WARNING: the changes above are NOT in this release; it is built from $commit alone" >&2
    else
      fail "uncommitted changes (above): commit them, or pass --allow-dirty to build $commit without them"
    fi
  fi
  if [ -n "$(git status --porcelain --untracked-files=normal | grep '^??' || true)" ]; then
    echo "release: untracked files are not in the release (git status shows them)" >&2
  fi
}

# unpack_commit DIR: the commit's tree in DIR/src.
unpack_commit() {
  local dir=$1
  rm -rf "$dir"
  mkdir -p "$dir/src" "$dir/out"
  git archive --format=tar "$commit" | tar -x -C "$dir/src"
}

# build_windows DIR: quorlen.exe and quorlen32.exe in Release, with the
# win64-release and win32-release presets' toolchains.
build_windows() {
  local dir=$1 preset
  for preset in win64-release win32-release; do
    (cd "$dir/src" &&
      cmake --preset "$preset" -DQUORLEN_TESTS=OFF -DQUORLEN_REPRODUCIBLE=ON >"$dir/$preset.configure.log" 2>&1 &&
      cmake --build --preset "$preset" --target quorlen -j2 >"$dir/$preset.build.log" 2>&1) ||
      fail "the $preset build failed; its logs are in $dir"
  done
}

# check_version EXE TRIPLE: the version resource carries the project version.
check_version() {
  local exe=$1 triple=$2 resources quad="${version//./, }, 0"
  resources=$("$triple-windres" -i "$exe" -J coff -O rc)
  local wanted
  for wanted in "FILEVERSION $quad" "PRODUCTVERSION $quad" "\"FileVersion\", \"$version\"" \
    "\"ProductVersion\", \"$version\"" '"ProductName", "Quorlen"' '"FileDescription", "Quorlen - '; do
    grep -qF "$wanted" <<<"$resources" || fail "$exe: its version resource lacks $wanted"
  done
}

# stage_windows DIR: the files of the Windows zip, by the names they get in it.
stage_windows() {
  local dir=$1 stage=$1/out/windows
  mkdir -p "$stage"
  cp "$dir/src/build/win64-release/quorlen.exe" "$dir/src/build/win32-release/quorlen32.exe" "$stage/"
  check_version "$stage/quorlen.exe" x86_64-w64-mingw32
  check_version "$stage/quorlen32.exe" i686-w64-mingw32
  python3 "$dir/src/tools/render_guide.py" --platform windows "$version" "$stage/quorlen-guide.html" "$dir/src"
  # .txt and CR LF line ends, so that a double click opens them in Notepad,
  # older ones included, as the lines they are.
  sed 's/$/\r/' "$dir/src/LICENSE" >"$stage/LICENSE.txt"
  sed 's/$/\r/' "$dir/src/CHANGELOG.md" >"$stage/CHANGELOG.txt"
}

# make_archive DIR ARCHIVE STAGE NAME...: DIR/out/ARCHIVE from STAGE's files,
# in the order given.
make_archive() {
  local dir=$1 archive=$2 stage=$3
  shift 3
  local specs=() name
  for name in "$@"; do
    specs+=("$name=$stage/$name")
  done
  python3 "$dir/src/tools/release_archive.py" "$dir/out/$archive" "${specs[@]}"
}

archive_windows() {
  local dir=$1
  make_archive "$dir" "quorlen-$version-windows.zip" "$dir/out/windows" \
    quorlen.exe quorlen32.exe quorlen-guide.html LICENSE.txt CHANGELOG.txt
}

# build_linux DIR: the Linux program in Release with the linux-qt preset.
# It links Qt 6 from the system (Debian 12's qt6-base), like any program of
# the distribution.
build_linux() {
  local dir=$1
  (cd "$dir/src" &&
    cmake --preset linux-qt -DCMAKE_BUILD_TYPE=Release -DQUORLEN_TESTS=OFF -DQUORLEN_REPRODUCIBLE=ON \
      >"$dir/linux-qt.configure.log" 2>&1 &&
    cmake --build --preset linux-qt --target quorlen -j2 >"$dir/linux-qt.build.log" 2>&1) ||
    fail "the linux-qt build failed; its logs are in $dir"
}

# stage_linux DIR: the files of the Linux archive, in a folder of the version.
stage_linux() {
  local dir=$1 stage=$1/out/linux
  mkdir -p "$stage"
  cp "$dir/src/build/linux-qt/quorlen" "$dir/src/resources/quorlen.desktop" "$dir/src/resources/quorlen.png" \
    "$dir/src/LICENSE" "$dir/src/CHANGELOG.md" "$stage/"
  python3 "$dir/src/tools/render_guide.py" --platform linux "$version" "$stage/quorlen-guide.html" "$dir/src"
}

archive_linux() {
  local dir=$1 folder="quorlen-$version" specs=() name
  for name in quorlen quorlen.desktop quorlen.png quorlen-guide.html LICENSE CHANGELOG.md; do
    specs+=("$folder/$name=$dir/out/linux/$name")
  done
  python3 "$dir/src/tools/release_archive.py" "$dir/out/quorlen-$version-linux-x86_64.tar.gz" "${specs[@]}"
}

# stage_deb DIR: the Debian package's tree: what `cmake --install` lays out
# under /usr, the program stripped as Debian's own packages are, the manual
# page compressed, and in /usr/share/doc/quorlen the Linux guide (registered
# with doc-base), the changelog and the copyright.
stage_deb() {
  local dir=$1 stage=$1/out/deb
  rm -rf "$stage"
  DESTDIR=$stage cmake --install "$dir/src/build/linux-qt" --prefix /usr >"$dir/deb.install.log" 2>&1 ||
    fail "installing the Linux build into $stage failed; the log is $dir/deb.install.log"
  strip --remove-section=.comment --remove-section=.note --strip-unneeded "$stage/usr/bin/quorlen"
  local doc=$stage/usr/share/doc/quorlen
  mkdir -p "$doc"
  cp "$dir/out/linux/quorlen-guide.html" "$dir/src/resources/copyright" "$doc/"
  # -n: no name and no date in gzip's header.
  gzip -9n <"$dir/src/CHANGELOG.md" >"$doc/changelog.gz"
  gzip -9n "$stage/usr/share/man/man1/quorlen.1"
  mkdir -p "$stage/usr/share/doc-base"
  cat >"$stage/usr/share/doc-base/quorlen.quorlen-guide" <<EOF
Document: quorlen-guide
Title: Quorlen user guide
Author: The Quorlen authors
Abstract: How to fade a fader of a Behringer X32 with Quorlen: installing it,
 the console's address in config.txt, the window, speeds and minimum, and
 what to check when nothing happens.
Section: Sound

Format: HTML
Index: /usr/share/doc/quorlen/quorlen-guide.html
Files: /usr/share/doc/quorlen/quorlen-guide.html
EOF
}

# control_deb DIR: DEBIAN/control and md5sums. Depends is what dpkg-shlibdeps
# reads from the libraries the program links, as a Debian build would have it;
# it wants a debian/control to look at, so it gets a minimal one of its own.
control_deb() {
  local dir=$1 stage=$1/out/deb depends size
  mkdir -p "$dir/shlibdeps/debian" "$stage/DEBIAN"
  printf 'Source: quorlen\n\nPackage: quorlen\nArchitecture: any\n' >"$dir/shlibdeps/debian/control"
  depends=$(cd "$dir/shlibdeps" && dpkg-shlibdeps -O "$stage/usr/bin/quorlen" 2>"$dir/shlibdeps.log" |
    sed -n 's/^shlibs:Depends=//p')
  [ -n "$depends" ] || fail "dpkg-shlibdeps found no dependencies; its log is $dir/shlibdeps.log"
  # Installed-Size counted as dpkg-gencontrol does: each file in whole KiB,
  # each directory as 1.
  size=$(cd "$stage" && find usr \( -type f -printf '%s\n' \) -o -printf '1\n' |
    awk '{ kib += int(($1 + 1023) / 1024) } END { print kib }')
  cat >"$stage/DEBIAN/control" <<EOF
Package: quorlen
Version: $version
Architecture: amd64
Maintainer: The Quorlen authors <maintainers@quorlen.example.org>
Installed-Size: $size
Depends: $depends
Section: sound
Priority: optional
Homepage: https://quorlen.example.org/
Description: fades one fader of a Behringer X32 mixing console
 Quorlen is a small desktop tool for the sound engineer at a Behringer X32
 digital mixing console. Pick a fader (Main or channel 1 to 32), a speed and
 a minimum, press "Get Main Position Until Touch" and touch that fader on
 the console: Quorlen fades it down from there over the network (OSC over
 UDP), one step every 10 ms, until it reaches the minimum or you press
 "Reset Off".
EOF
  (cd "$stage" && find usr -type f | LC_ALL=C sort | xargs md5sum) >"$stage/DEBIAN/md5sums"
}

# archive_deb DIR: dpkg-deb sorts the entries, clamps their dates to
# SOURCE_DATE_EPOCH and dates the ar members with it. Every date is set to it
# beforehand all the same, so that no file older than the commit keeps its
# own. Root owns every file, and xz runs on one thread, because its threaded
# output depends on the number of threads.
archive_deb() {
  local dir=$1
  find "$dir/out/deb" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
  dpkg-deb --root-owner-group -Zxz --threads-max=1 --build "$dir/out/deb" \
    "$dir/out/quorlen_${version}_amd64.deb" >"$dir/deb.build.log" 2>&1 ||
    fail "dpkg-deb failed; its log is $dir/deb.build.log"
}

# build_release DIR: one whole build of the release into DIR/out.
build_release() {
  local dir=$1
  echo "=== building $commit in $dir"
  unpack_commit "$dir"
  build_windows "$dir"
  version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$dir/src/build/win64-release/CMakeCache.txt")
  [ -n "$version" ] || fail "no project version in $dir/src/build/win64-release/CMakeCache.txt"
  stage_windows "$dir"
  archive_windows "$dir"
  build_linux "$dir"
  stage_linux "$dir"
  archive_linux "$dir"
  stage_deb "$dir"
  control_deb "$dir"
  archive_deb "$dir"
}

# compare_builds A B: every file of A/out and B/out, byte for byte.
compare_builds() {
  local a=$1 b=$2 differ=0 file
  if ! diff <(cd "$a/out" && find . -type f | sort) <(cd "$b/out" && find . -type f | sort) >&2; then
    echo "release: the two builds made different sets of files (above)" >&2
    differ=1
  fi
  while IFS= read -r file; do
    if [ -f "$b/out/$file" ] && ! cmp -s "$a/out/$file" "$b/out/$file"; then
      echo "release: NOT REPRODUCIBLE: ${file#./} differs between $a and $b" >&2
      differ=1
    fi
  done < <(cd "$a/out" && find . -type f | sort)
  [ "$differ" = 0 ] || fail "the two builds of $commit differ; nothing was written to dist/"
  echo "=== both builds are byte-identical ($(cd "$a/out" && find . -type f | wc -l) files)"
}

publish() {
  local from=$1/out
  rm -rf dist
  mkdir -p dist
  cp "$from"/*.zip dist/
  shopt -s nullglob
  local archives=("$from"/*.tar.gz)
  shopt -u nullglob
  [ ${#archives[@]} -eq 0 ] || cp "${archives[@]}" dist/
  cp "$from"/*.deb dist/
  (cd dist && sha256sum -- * >SHA256SUMS)
  echo "=== dist/"
  (cd dist && ls -l && cat SHA256SUMS)
}

# check_deb: lintian on the package. Errors stop the release; warnings and the
# rest are shown (BUILDING.md explains each warning that is left).
check_deb() {
  echo "=== lintian dist/quorlen_${version}_amd64.deb"
  local report status=0
  report=$(lintian --pedantic --fail-on error "dist/quorlen_${version}_amd64.deb" 2>&1) || status=$?
  grep -v '^running with root privileges' <<<"$report" || true
  [ "$status" = 0 ] || fail "lintian reports errors in the package"
}

# run_e2e DIR: the end-to-end suite on the programs unpacked from dist's zip,
# with the console simulator and the window probe built from the same commit.
run_e2e() {
  local dir=$1 unpacked=$1/unpacked
  echo "=== end-to-end suite on the zip's programs"
  (cd "$dir/src" &&
    cmake --preset linux-debug -DQUORLEN_TESTS=OFF >"$dir/linux-debug.configure.log" 2>&1 &&
    cmake --build --preset linux-debug --target console-sim -j2 >"$dir/linux-debug.build.log" 2>&1 &&
    cmake --build --preset win64-release --target quorlen-probe -j2 >"$dir/probe.build.log" 2>&1) ||
    fail "building the console simulator or the probe failed; the logs are in $dir"
  rm -rf "$unpacked"
  python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' \
    "dist/quorlen-$version-windows.zip" "$unpacked"
  chmod +x "$unpacked"/*.exe
  local lock=()
  [ -z "${QUORLEN_PORT_LOCK:-}" ] || lock=(flock "$QUORLEN_PORT_LOCK")
  local exe status results=()
  for exe in quorlen.exe quorlen32.exe; do
    echo "--- $exe"
    status=0
    (source "$dir/src/tools/wine-env.sh" &&
      "${lock[@]}" python3 "$dir/src/tests/e2e/quorlen_e2e.py" --exe "$unpacked/$exe" \
        --sim "$dir/src/build/linux-debug/tools/console-sim/console-sim" \
        --probe "$dir/src/build/win64-release/tools/quorlen-probe/quorlen-probe.exe" \
        --out "$dir/e2e-${exe%.exe}") || status=$?
    case "$status" in
      0) results+=("$exe: passed") ;;
      77) results+=("$exe: SKIPPED (could not run here; the reason is above)") ;;
      *) results+=("$exe: FAILED") ;;
    esac
  done
  echo "--- quorlen (Linux)"
  (cd "$dir/src" && cmake --build --preset linux-qt --target console-sim -j2 >"$dir/linux-qt-sim.build.log" 2>&1) ||
    fail "building the console simulator failed; the log is in $dir"
  mkdir -p "$unpacked/linux"
  tar -xzf "dist/quorlen-$version-linux-x86_64.tar.gz" -C "$unpacked/linux"
  status=0
  "${lock[@]}" python3 "$dir/src/tests/e2e/linux_smoke.py" --exe "$unpacked/linux/quorlen-$version/quorlen" \
    --sim "$dir/src/build/linux-qt/tools/console-sim/console-sim" --out "$dir/e2e-linux" || status=$?
  [ "$status" = 0 ] && results+=("quorlen (Linux): passed") || results+=("quorlen (Linux): FAILED")
  echo "--- quorlen (.deb)"
  status=0
  run_deb_e2e "$dir" || status=$?
  [ "$status" = 0 ] && results+=("quorlen (.deb): passed") || results+=("quorlen (.deb): FAILED")
  printf '=== end-to-end: %s\n' "${results[@]}"
  printf '%s\n' "${results[@]}" | grep -q -v ': passed$' && fail "the end-to-end suite did not pass on the zip's programs"
  return 0
}

# run_deb_e2e DIR: installs dist's .deb on this machine as a user would
# (apt, which brings in its Depends), runs the smoke suite on /usr/bin/quorlen
# started through the installed desktop entry, removes the package (apt
# remove) and checks that no file of it is left. A quorlen package installed before is refused
# rather than replaced, so the run never changes what it didn't add.
run_deb_e2e() {
  local dir=$1 sudo="" files left status=0
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  if dpkg-query -W -f='${Status}' quorlen 2>/dev/null | grep -q 'installed'; then
    echo "release: a quorlen package is installed on this machine already; remove it first" >&2
    return 1
  fi
  if DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q -o DPkg::Lock::Timeout=600 \
    "$root/dist/quorlen_${version}_amd64.deb" >"$dir/deb-install.log" 2>&1; then
    files=$(dpkg-query -L quorlen)
    "${lock[@]}" python3 "$dir/src/tests/e2e/linux_smoke.py" --exe /usr/bin/quorlen \
      --desktop /usr/share/applications/quorlen.desktop \
      --sim "$dir/src/build/linux-qt/tools/console-sim/console-sim" --out "$dir/e2e-deb" || status=$?
  else
    echo "release: installing the .deb failed; the log is $dir/deb-install.log" >&2
    files=$(dpkg-query -L quorlen 2>/dev/null || true)
    status=1
  fi
  # Removed as a user removes it (apt remove), also after a failed install,
  # which can leave the package unpacked.
  if dpkg-query -W quorlen >/dev/null 2>&1 &&
    ! DEBIAN_FRONTEND=noninteractive $sudo apt-get remove -y -q -o DPkg::Lock::Timeout=600 quorlen \
      >"$dir/deb-remove.log" 2>&1; then
    echo "release: removing the package failed; the log is $dir/deb-remove.log" >&2
    status=1
  fi
  # Directories such as /usr/bin stay, of course; every file and link must go.
  left=$(while IFS= read -r path; do
    if [ -L "$path" ] || { [ -e "$path" ] && [ ! -d "$path" ]; }; then echo "$path"; fi
  done <<<"$files")
  if [ -n "$left" ]; then
    echo "release: files of the package are left after its removal:" >&2
    echo "$left" >&2
    status=1
  fi
  [ ! -e /usr/share/doc/quorlen ] || { echo "release: /usr/share/doc/quorlen is left" >&2; status=1; }
  # The package has no configuration files, so nothing of it should be left
  # for dpkg to remember; purge whatever is, so the machine is as it was.
  if dpkg-query -W quorlen >/dev/null 2>&1; then
    echo "release: dpkg still lists quorlen after apt remove: $(dpkg-query -W -f='${Status}' quorlen)" >&2
    DEBIAN_FRONTEND=noninteractive $sudo apt-get purge -y -q -o DPkg::Lock::Timeout=600 quorlen \
      >>"$dir/deb-remove.log" 2>&1 || true
    status=1
  fi
  return "$status"
}

umask 022
check_tree
export SOURCE_DATE_EPOCH
SOURCE_DATE_EPOCH=$(git log -1 --format=%ct "$commit")
export TZ=UTC LC_ALL=C.UTF-8
# The compiler flags are the project's alone, whatever this shell carries.
unset CFLAGS CXXFLAGS CPPFLAGS LDFLAGS

# Two directories whose names differ in length too, so that a path that gets
# into any file shows up as a difference.
first=$root/build/release/one
second=$root/build/release/second-build
build_release "$first"
build_release "$second"
compare_builds "$first" "$second"
publish "$first"
check_deb
[ "$e2e" = 0 ] || run_e2e "$first"
echo "=== release $version of $commit is in dist/"
