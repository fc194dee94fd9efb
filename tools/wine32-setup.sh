#!/usr/bin/env bash
# Makes 32-bit Wine usable where every i386 ELF, Wine's loader included, fails
# with "Exec format error" (HACKING.md): fetches qemu-i386 from bookworm-backports
# (bookworm's qemu 7.2 can't run Wine's loader) into QUORLEN_QEMU_DIR, for
# tools/wine32-ns, without touching the system's apt sources.
set -euo pipefail

qemu_dir=${QUORLEN_QEMU_DIR:-/opt/quorlen-qemu}

# Nothing to do where 32-bit code runs natively, or with qemu there already.
/lib/ld-linux.so.2 --version >/dev/null 2>&1 && exit 0
[ -x "$qemu_dir/qemu-i386" ] && exit 0

echo "This machine can't execute 32-bit code; fetching qemu-i386 for 32-bit Wine..."
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkdir -p "$tmp/lists/partial" "$tmp/cache/archives/partial"
echo 'deb http://deb.debian.org/debian bookworm-backports main' >"$tmp/sources.list"
apt_options=(
  -o Dir::Etc::sourcelist="$tmp/sources.list" -o Dir::Etc::sourceparts=/dev/null
  -o Dir::State::Lists="$tmp/lists" -o Dir::Cache="$tmp/cache"
  -o APT::Get::List-Cleanup=0 -o APT::Sandbox::User=root
)
apt-get "${apt_options[@]}" update -qq
(cd "$tmp" && apt-get "${apt_options[@]}" download -qq qemu-user/bookworm-backports)
dpkg -x "$tmp"/qemu-user_*.deb "$tmp/unpacked"
mkdir -p "$qemu_dir"
cp "$tmp/unpacked/usr/bin/qemu-i386" "$qemu_dir/"
"$qemu_dir/qemu-i386" --version | head -1
