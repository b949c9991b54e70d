#!/bin/sh
# Lets this machine run 32-bit x86 programs when its kernel cannot (one
# built without IA32 emulation): registers qemu-user-static's i386 emulator
# with binfmt_misc, keeping each program's argv[0] (the tool picks its model
# from it) and usable inside chroots. Nothing to do where they run already.
# Needs root and the package qemu-user-static.
set -eu
probe=$(mktemp)
trap 'rm -f "$probe"' EXIT
# The smallest i386 program there is: exit(0) by int 0x80.
printf '\177ELF\001\001\001\000\000\000\000\000\000\000\000\000\002\000\003\000\001\000\000\000T\200\004\0104\000\000\000\000\000\000\000\000\000\000\0004\000 \000\001\000\000\000\000\000\000\000\001\000\000\000\000\000\000\000\000\200\004\010\000\200\004\010`\000\000\000`\000\000\000\005\000\000\000\000\020\000\0001\300@1\333\315\200' >"$probe"
chmod 755 "$probe"
if "$probe" 2>/dev/null; then
  echo "32-bit x86 programs run here already"
  exit 0
fi
emulator=/usr/bin/qemu-i386-static
[ -x "$emulator" ] || { echo "no $emulator: apt-get install qemu-user-static" >&2; exit 1; }
[ -e /proc/sys/fs/binfmt_misc/register ] ||
  mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
# Called by this name, the emulator takes argv[0] from binfmt_misc's P flag.
mkdir -p /usr/libexec/qemu-binfmt
ln -sf "$emulator" /usr/libexec/qemu-binfmt/i386-binfmt-P
[ ! -e /proc/sys/fs/binfmt_misc/qemu-i386 ] || echo -1 >/proc/sys/fs/binfmt_misc/qemu-i386
printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/libexec/qemu-binfmt/i386-binfmt-P:OPF' \
  >/proc/sys/fs/binfmt_misc/register
"$probe" || { echo "32-bit x86 programs still do not run" >&2; exit 1; }
echo "32-bit x86 programs run here through $emulator"
