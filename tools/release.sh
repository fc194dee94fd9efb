#!/usr/bin/env bash
# Makes the release of the commit HEAD names (README.md, BUILDING.md):
#   dist/quorlen-<version>-windows.zip          both Windows programs, the user
#                                               guide, licence and changelog
#   dist/quorlen-<version>-linux-x86_64.tar.gz  the Linux program, its desktop
#                                               entry and icon, the same texts
#   dist/quorlen_<version>_amd64.deb            the Linux program as a package
#   dist/SHA256SUMS                             every archive's sum
#
#   tools/release.sh [--e2e] [--allow-dirty]
#
# Built twice from `git archive` of the commit, every output compared byte for
# byte. --allow-dirty builds the commit although the work tree has changes.
# --e2e then runs the end-to-end suites on the archives' programs and on the
# installed .deb; set QUORLEN_PORT_LOCK to a lock file when several checkouts
# share the machine's UDP port 10023.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

e2e=0 allow_dirty=0
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
  if ! git diff --quiet HEAD; then
    git status --porcelain --untracked-files=no >&2
    [ "$allow_dirty" = 1 ] ||
      fail "uncommitted changes (above): commit them, or pass --allow-dirty to build $commit without them"
    echo "release: WARNING: the changes above are NOT in this release; it is built from $commit alone" >&2
  fi
  [ -z "$(git ls-files --others --exclude-standard)" ] ||
    echo "release: untracked files are not in the release (git status shows them)" >&2
}

# build DIR PRESET TARGET [CMAKE_ARGS...]: TARGET of DIR/src with PRESET's
# toolchain; its log is DIR/PRESET-TARGET.log.
build() {
  local dir=$1 preset=$2 target=$3
  shift 3
  (cd "$dir/src" &&
    cmake --preset "$preset" -DQUORLEN_TESTS=OFF -DQUORLEN_REPRODUCIBLE=ON "$@" &&
    cmake --build --preset "$preset" --target "$target" -j2) >"$dir/$preset-$target.log" 2>&1 ||
    fail "the $preset build of $target failed; its log is $dir/$preset-$target.log"
}

# check_version EXE TRIPLE: the version resource carries the project version.
check_version() {
  local exe=$1 triple=$2 resources quad="${version//./, }, 0" wanted
  resources=$("$triple-windres" -i "$exe" -J coff -O rc)
  for wanted in "FILEVERSION $quad" "PRODUCTVERSION $quad" "\"FileVersion\", \"$version\"" \
    "\"ProductVersion\", \"$version\"" '"ProductName", "Quorlen"' '"FileDescription", "Quorlen - '; do
    grep -qF "$wanted" <<<"$resources" || fail "$exe: its version resource lacks $wanted"
  done
}

# windows DIR: quorlen.exe and quorlen32.exe in Release, and their zip.
windows() {
  local dir=$1 stage=$1/out/windows
  build "$dir" win64-release quorlen
  build "$dir" win32-release quorlen
  version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$dir/src/build/win64-release/CMakeCache.txt")
  [ -n "$version" ] || fail "no project version in $dir/src/build/win64-release/CMakeCache.txt"
  mkdir -p "$stage"
  cp "$dir/src/build/win64-release/quorlen.exe" "$dir/src/build/win32-release/quorlen32.exe" "$stage/"
  check_version "$stage/quorlen.exe" x86_64-w64-mingw32
  check_version "$stage/quorlen32.exe" i686-w64-mingw32
  python3 "$dir/src/tools/render_guide.py" --platform windows "$version" "$stage/quorlen-guide.html" "$dir/src"
  # .txt and CR LF line ends, so that a double click opens them in Notepad,
  # older ones included, as the lines they are.
  sed 's/$/\r/' "$dir/src/LICENSE" >"$stage/LICENSE.txt"
  sed 's/$/\r/' "$dir/src/CHANGELOG.md" >"$stage/CHANGELOG.txt"
  # zipfile dates each entry by its file (in local time, which is UTC here) and
  # keeps its mode, 0755 or 0644; Info-ZIP's zip is not installed here.
  touch -d "@$SOURCE_DATE_EPOCH" "$stage"/*
  (cd "$stage" && python3 - "$dir/out/quorlen-$version-windows.zip" \
    quorlen.exe quorlen32.exe quorlen-guide.html LICENSE.txt CHANGELOG.txt) <<'EOF'
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_DEFLATED, compresslevel=9) as archive:
    for name in sys.argv[2:]:
        archive.write(name)
EOF
}

# linux DIR: the Linux program, linking the system's Qt 6 as the programs of
# the distribution do, and its archive, whose files are in a versioned folder.
linux() {
  local dir=$1 stage=$1/out/linux
  build "$dir" linux-qt quorlen -DCMAKE_BUILD_TYPE=Release
  mkdir -p "$stage"
  cp "$dir/src/build/linux-qt/quorlen" "$dir/src/resources/quorlen.desktop" "$dir/src/resources/quorlen.png" \
    "$dir/src/LICENSE" "$dir/src/CHANGELOG.md" "$stage/"
  python3 "$dir/src/tools/render_guide.py" --platform linux "$version" "$stage/quorlen-guide.html" "$dir/src"
  # The files in the order given, dated SOURCE_DATE_EPOCH, owned by root,
  # 0755 or 0644; -n keeps a name and a date out of gzip's header.
  tar -C "$stage" --format=ustar --owner=0 --group=0 --numeric-owner --mtime="@$SOURCE_DATE_EPOCH" \
    --mode=u=rwX,go=rX --transform "s,^,quorlen-$version/," -cf - \
    quorlen quorlen.desktop quorlen.png quorlen-guide.html LICENSE CHANGELOG.md |
    gzip -9n >"$dir/out/quorlen-$version-linux-x86_64.tar.gz"
}

# deb DIR: the Debian package, of what `cmake --install` lays out under /usr
# and, in /usr/share/doc/quorlen, the guide (for doc-base), changelog, copyright.
deb() {
  local dir=$1 stage=$1/out/deb doc=$1/out/deb/usr/share/doc/quorlen depends size
  DESTDIR=$stage cmake --install "$dir/src/build/linux-qt" --prefix /usr >"$dir/deb.install.log" 2>&1 ||
    fail "installing the Linux build into $stage failed; the log is $dir/deb.install.log"
  strip --remove-section=.comment --remove-section=.note --strip-unneeded "$stage/usr/bin/quorlen"
  mkdir -p "$doc" "$stage/usr/share/doc-base" "$stage/DEBIAN" "$dir/shlibdeps/debian"
  cp "$dir/out/linux/quorlen-guide.html" "$dir/src/resources/copyright" "$doc/"
  gzip -9n <"$dir/src/CHANGELOG.md" >"$doc/changelog.gz"
  gzip -9n "$stage/usr/share/man/man1/quorlen.1"
  cp "$dir/src/resources/debian/quorlen-guide.doc-base" "$stage/usr/share/doc-base/quorlen.quorlen-guide"
  # Depends, as a Debian build has it, from dpkg-shlibdeps, which reads the
  # libraries the program links and wants a debian/control: a minimal one here.
  printf 'Source: quorlen\n\nPackage: quorlen\nArchitecture: any\n' >"$dir/shlibdeps/debian/control"
  depends=$(cd "$dir/shlibdeps" && dpkg-shlibdeps -O "$stage/usr/bin/quorlen" 2>"$dir/shlibdeps.log" |
    sed -n 's/^shlibs:Depends=//p')
  [ -n "$depends" ] || fail "dpkg-shlibdeps found no dependencies; its log is $dir/shlibdeps.log"
  # Installed-Size counted as dpkg-gencontrol does: each file in whole KiB,
  # each directory as 1.
  size=$(cd "$stage" && find usr \( -type f -printf '%s\n' \) -o -printf '1\n' |
    awk '{ kib += int(($1 + 1023) / 1024) } END { print kib }')
  sed -e "s/@VERSION@/$version/; s/@INSTALLED_SIZE@/$size/; s/@DEPENDS@/$depends/" \
    "$dir/src/resources/debian/control.in" >"$stage/DEBIAN/control"
  (cd "$stage" && find usr -type f | LC_ALL=C sort | xargs md5sum) >"$stage/DEBIAN/md5sums"
  # dpkg-deb sorts the entries and clamps dates to SOURCE_DATE_EPOCH itself;
  # a file older than the commit would keep its own, so every date is set. xz
  # runs on one thread because its threaded output depends on their number.
  find "$stage" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
  dpkg-deb --root-owner-group -Zxz --threads-max=1 --build "$stage" \
    "$dir/out/quorlen_${version}_amd64.deb" >"$dir/deb.build.log" 2>&1 ||
    fail "dpkg-deb failed; its log is $dir/deb.build.log"
}

# build_release DIR: one whole build of the release into DIR/out.
build_release() {
  local dir=$1
  echo "=== building $commit in $dir"
  rm -rf "$dir"
  mkdir -p "$dir/src" "$dir/out"
  git archive --format=tar "$commit" | tar -x -C "$dir/src"
  windows "$dir"
  linux "$dir"
  deb "$dir"
}

publish() {
  rm -rf dist
  mkdir -p dist
  cp "$1"/out/*.zip "$1"/out/*.tar.gz "$1"/out/*.deb dist/
  (cd dist && sha256sum -- * >SHA256SUMS)
  echo "=== dist/"
  (cd dist && ls -l && cat SHA256SUMS)
}

# check_deb: lintian on the package. Errors stop the release; warnings and the
# rest are shown (BUILDING.md explains each warning that is left).
check_deb() {
  echo "=== lintian dist/quorlen_${version}_amd64.deb"
  lintian --pedantic --fail-on error "dist/quorlen_${version}_amd64.deb" 2>&1 |
    { grep -v '^running with root privileges' || true; } || fail "lintian reports errors in the package"
}

# suite NAME COMMAND...: runs one suite and keeps how it went for the summary;
# 77 is a suite that could not run here, and not a pass either.
suite() {
  local name=$1 status=0
  shift
  echo "--- $name"
  "$@" || status=$?
  case "$status" in
    0) results+=("$name: passed") ;;
    77) results+=("$name: SKIPPED (could not run here; the reason is above)") ;;
    *) results+=("$name: FAILED") ;;
  esac
  [ "$status" = 0 ] || all_passed=0
}

# run_e2e DIR: the end-to-end suites on the programs of dist/'s archives and
# of the installed .deb, with the simulator and probe of the same commit.
run_e2e() {
  local dir=$1 unpacked=$1/unpacked results=() all_passed=1 lock=() exe
  echo "=== end-to-end suite on the zip's programs"
  build "$dir" linux-debug console-sim
  build "$dir" win64-release quorlen-probe
  rm -rf "$unpacked"
  mkdir -p "$unpacked/linux"
  python3 -m zipfile -e "dist/quorlen-$version-windows.zip" "$unpacked"
  chmod +x "$unpacked"/*.exe
  tar -xzf "dist/quorlen-$version-linux-x86_64.tar.gz" -C "$unpacked/linux"
  [ -z "${QUORLEN_PORT_LOCK:-}" ] || lock=(flock "$QUORLEN_PORT_LOCK")
  source "$dir/src/tools/wine-env.sh"
  for exe in quorlen.exe quorlen32.exe; do
    suite "$exe" "${lock[@]}" python3 "$dir/src/tests/e2e/quorlen_e2e.py" --exe "$unpacked/$exe" \
      --sim "$quorlen_sim" --probe "$quorlen_probe" --out "$dir/e2e-${exe%.exe}"
  done
  suite "quorlen (Linux)" "${lock[@]}" python3 "$dir/src/tests/e2e/linux_smoke.py" \
    --exe "$unpacked/linux/quorlen-$version/quorlen" --sim "$quorlen_sim" --out "$dir/e2e-linux"
  suite "quorlen (.deb)" run_deb_e2e "$dir"
  printf '=== end-to-end: %s\n' "${results[@]}"
  [ "$all_passed" = 1 ] || fail "the end-to-end suite did not pass on the zip's programs"
}

# apt_get ARGS...: apt-get as root, asking nothing, waiting for another apt.
apt_get() {
  local sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get -y -q -o DPkg::Lock::Timeout=600 "$@"
}

# run_deb_e2e DIR: installs dist's .deb with apt as a user would, runs the
# smoke suite on /usr/bin/quorlen through the installed desktop entry, removes
# the package and checks that no file of it is left. A quorlen package there
# before is refused, not replaced: the run changes nothing it didn't add.
run_deb_e2e() {
  local dir=$1 files left status=0
  problem() {
    echo "release: $*" >&2
    status=1
  }
  # Any state but "not-installed" (which dpkg reports for a package it only knows of) is a package here.
  [[ "$(dpkg-query -W -f='${db:Status-Status}' quorlen 2>/dev/null)" =~ ^(not-installed)?$ ]] ||
    { problem "a quorlen package is installed on this machine already; remove it first"; return 1; }
  if apt_get install "$root/dist/quorlen_${version}_amd64.deb" >"$dir/deb-install.log" 2>&1; then
    "${lock[@]}" python3 "$dir/src/tests/e2e/linux_smoke.py" --exe /usr/bin/quorlen \
      --desktop /usr/share/applications/quorlen.desktop --sim "$quorlen_sim" --out "$dir/e2e-deb" || status=$?
  else
    problem "installing the .deb failed; the log is $dir/deb-install.log"
  fi
  files=$(dpkg-query -L quorlen 2>/dev/null || true)
  # Removed as a user removes it (apt remove), also after a failed install,
  # which can leave the package unpacked.
  if dpkg-query -W quorlen >/dev/null 2>&1 && ! apt_get remove quorlen >"$dir/deb-remove.log" 2>&1; then
    problem "removing the package failed; the log is $dir/deb-remove.log"
  fi
  # Directories such as /usr/bin stay, of course; every file and link must go.
  left=$(xargs -r -d '\n' sh -c 'find "$@" -maxdepth 0 ! -type d 2>/dev/null' sh <<<"$files" || true)
  [ -z "$left" ] || problem "files of the package are left after its removal:"$'\n'"$left"
  [ ! -e /usr/share/doc/quorlen ] || problem "/usr/share/doc/quorlen is left"
  # The package has no configuration files, so nothing of it should be left
  # for dpkg to remember; purge whatever is, so the machine is as it was.
  if dpkg-query -W quorlen >/dev/null 2>&1; then
    problem "dpkg still lists quorlen after apt remove: $(dpkg-query -W -f='${Status}' quorlen)"
    apt_get purge quorlen >>"$dir/deb-remove.log" 2>&1 || true
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
diff -r --brief "$first/out" "$second/out" >&2 ||
  fail "the two builds of $commit differ (above); nothing was written to dist/"
echo "=== both builds are byte-identical ($(find "$first/out" -type f | wc -l) files)"
publish "$first"
check_deb
[ "$e2e" = 0 ] || run_e2e "$first"
echo "=== release $version of $commit is in dist/"
