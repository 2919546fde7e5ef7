# The 32-bit tests run the i386 Wine loader under Debian's qemu-user, which the kernel starts
# through a binfmt_misc entry for i386 ELF programs. The loader is kept out of Wine's own
# folder (a dpkg diversion made by the bootstrap): the 64-bit Wine would otherwise find it and
# run the 32-bit half of every new 64-bit prefix's set-up under emulation, minutes each.
i686_wine_loader=/usr/lib/wine32/wine
i686_binfmt=/proc/sys/fs/binfmt_misc

# Magic and mask of an i386 ELF executable or shared object.
i686_elf_magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
i686_elf_mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'


# Registers the emulator where it can; prints why not and fails otherwise.
i686_emulation_ready() {
  [ -x "$i686_wine_loader" ] || { echo "no 32-bit Wine loader at $i686_wine_loader"; return 1; }
  [ -x /usr/bin/qemu-i386 ] || { echo "qemu-user is not installed"; return 1; }
  if [ ! -e "$i686_binfmt/register" ]; then
    as_root mount -t binfmt_misc binfmt_misc "$i686_binfmt" >/dev/null 2>&1 ||
      { echo "binfmt_misc cannot be mounted"; return 1; }
  fi
  if ! grep -qs '^interpreter /usr/bin/qemu-i386$' "$i686_binfmt"/*; then
    printf ':torvex-i386:M::%s:%s:/usr/bin/qemu-i386:\n' "$i686_elf_magic" "$i686_elf_mask" |
      as_root tee "$i686_binfmt/register" >/dev/null 2>&1 ||
      { echo "the i386 emulator cannot be registered with binfmt_misc"; return 1; }
  fi
  "$i686_wine_loader" --version >/dev/null 2>&1 ||
    { echo "the 32-bit Wine loader does not start under emulation"; return 1; }
}
