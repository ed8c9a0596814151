# 32-bit x86 programs for the i686 build's Wine (and a 64-bit prefix's, once Debian's wine32 is
# installed). Where the kernel runs none, Debian's qemu-user-static runs them: an entry of our own
# in binfmt_misc hands every i386 program to qemu, and a small library preloaded into the 32-bit
# Wine processes mends what of qemu Wine trips on (tests/win32/wine-qemu-shim/).
# scripts/windows-deps sets it up; scripts/test-windows asks how they run and removes the entry.
# The caller sets SUDO (empty as root) and repo; nothing runs while this file is sourced.
# shellcheck shell=bash disable=SC2154 # SUDO and repo come from the caller

i386_binfmt_dir=/proc/sys/fs/binfmt_misc
i386_binfmt_entry=pandel-i386
# ELF, 32-bit, little-endian, an executable or a shared object, i386.
i386_binfmt_magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
i386_binfmt_mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'

# Whether this machine runs 32-bit x86 programs at all: a minimal i386 Linux program (exit(0)
# through int 0x80) is tried. Some kernels and virtual machines run 64-bit code only; there,
# Debian's 32-bit Wine cannot start by itself.
runs_32_bit() {
  local probe
  probe=$(mktemp)
  printf '\177ELF\1\1\1\0\0\0\0\0\0\0\0\0\2\0\3\0\1\0\0\0\124\200\4\10\64\0\0\0\0\0\0\0\0\0\0\0\64\0\40\0\1\0\0\0\0\0\0\0\1\0\0\0\0\0\0\0\0\200\4\10\0\200\4\10\135\0\0\0\135\0\0\0\5\0\0\0\0\20\0\0\61\333\270\1\0\0\0\315\200' >"$probe"
  chmod +x "$probe"
  local status=0
  timeout 10 "$probe" 2>/dev/null || status=$?
  rm -f "$probe"
  [ "$status" -eq 0 ]
}

# Whether an enabled binfmt_misc entry hands i386 programs to qemu.
i386_by_qemu() {
  local entry
  for entry in "$i386_binfmt_dir"/*; do
    [ -f "$entry" ] && grep -qx enabled "$entry" 2>/dev/null &&
      grep -q '^interpreter .*qemu-i386' "$entry" && return 0
  done
  return 1
}

# Our entry, registered unless some entry hands i386 programs to qemu already (binfmt_misc
# mounted if need be). F: qemu is opened now, so it serves every program whatever its mount
# namespace.
i386_register_qemu() {
  [ -e "$i386_binfmt_dir/register" ] ||
    $SUDO mount -t binfmt_misc binfmt_misc "$i386_binfmt_dir" 2>/dev/null || return 1
  i386_by_qemu && return 0
  local qemu=/usr/bin/qemu-i386-static
  printf '%s' ":$i386_binfmt_entry:M::$i386_binfmt_magic:$i386_binfmt_mask:$qemu:F" |
    $SUDO tee "$i386_binfmt_dir/register" >/dev/null 2>&1
}

# Whether our entry is registered; removing it.
i386_has_entry() { [ -e "$i386_binfmt_dir/$i386_binfmt_entry" ]; }
i386_remove_entry() {
  i386_has_entry || return 0
  echo -1 | $SUDO tee "$i386_binfmt_dir/$i386_binfmt_entry" >/dev/null 2>&1 || true
}

# The mending library, for each loader's own library directory ($LIB stays as it is).
i386_shim_dir() { echo "$repo/build-wine-qemu-shim"; }
i386_shim_preload() { echo "$(i386_shim_dir)/\$LIB/libwine-qemu-shim.so"; }

i386_shim_built() { [ -f "$(i386_shim_dir)/lib/i386-linux-gnu/libwine-qemu-shim.so" ]; }
i386_build_shim() {
  local shim
  shim=$(i386_shim_dir)
  mkdir -p "$shim/lib/i386-linux-gnu" "$shim/lib/x86_64-linux-gnu"
  gcc -m32 -O2 -fPIC -shared -nostdlib -fno-stack-protector \
    -o "$shim/lib/i386-linux-gnu/libwine-qemu-shim.so" \
    "$repo/tests/win32/wine-qemu-shim/wine_qemu_shim.c" || return 1
  echo 'void wine_qemu_shim_64_bit(void) {}' |
    gcc -x c -O2 -fPIC -shared -nostdlib -o "$shim/lib/x86_64-linux-gnu/libwine-qemu-shim.so" -
}
