# The 32-bit tests run the i386 Wine loader under qemu-user, which the kernel starts through a
# binfmt_misc entry for i386 ELF programs. The loader is kept out of Wine's own folder (a dpkg
# diversion made by the bootstrap): the 64-bit Wine would otherwise find it and run the 32-bit
# half of every new 64-bit prefix's set-up under emulation, minutes each.
#
# Debian's qemu-i386 cannot run a multi-threaded 32-bit Wine: its threads share one GDT, so a
# thread that reloads %gs (Wine does on every exception and signal) takes the TLS of the newest
# thread, and its signal frames carry no trap number, so Wine takes every fault, a page fault
# too, for an illegal instruction. It also takes MAP_FIXED_NOREPLACE for a hint: Wine (which
# Debian ships without its preloader) then reserves its address space in tens of thousands of
# calls that each search the whole space, half a minute for every process started. The
# bootstrap builds qemu-i386 from Debian's source of the
# installed qemu-user with qemu-i386-threads.patch, which mends all three, into the cache. The runs
# register it in a binfmt_misc instance of their own (a user namespace), so that nothing of the
# machine's set-up changes and clones never meet.
i686_wine_loader=/usr/lib/wine32/wine
i686_emulator_patch="$repo/scripts/lib/qemu-i386-threads.patch"

# Magic and mask of an i386 ELF executable or shared object.
i686_elf_magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
i686_elf_mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'

# The patched emulator's path, keyed by the qemu-user version and the patch.
i686_emulator() {
  local version patch_key
  version=$(dpkg-query -W -f='${source:Version}' qemu-user 2>/dev/null) || return 1
  patch_key=$(sha256sum "$i686_emulator_patch" | cut -c1-12)
  echo "$deps_dir/qemu-i386/${version//:/_}-$patch_key/qemu-i386"
}

# Builds the patched emulator unless the cache has it. Two clones may build at once: each
# builds in a folder of its own and renames its result into place.
build_i686_emulator() {
  local emulator version work status=0
  emulator=$(i686_emulator) || return 1
  [ -x "$emulator" ] && return 0
  announce_step "building the patched qemu-i386"
  version=$(dpkg-query -W -f='${source:Version}' qemu-user)
  mkdir -p "$deps_dir/build" "$(dirname "$emulator")"
  work=$(mktemp -d "$deps_dir/build/qemu-i386.XXXXXX")
  (cd "$work" &&
    run_logged "apt-get source qemu" apt-get source --download-only "qemu=$version" &&
    run_logged "unpack qemu" dpkg-source -x --no-check ./*.dsc tree &&
    run_logged "patch qemu" patch -d tree -p1 -i "$i686_emulator_patch" &&
    mkdir build && cd build &&
    run_logged "configure qemu-i386" ../tree/configure --target-list=i386-linux-user \
      --without-default-features --disable-system --disable-tools --disable-docs \
      --disable-werror --with-git-submodules=ignore &&
    run_logged "build qemu-i386" ninja -j "${TORVEX_JOBS:-$(nproc)}" qemu-i386 &&
    cp qemu-i386 "$emulator.$$" && mv -f "$emulator.$$" "$emulator") || status=$?
  rm -rf "$work"
  return "$status"
}

# Runs a command in a user and mount namespace whose own binfmt_misc instance starts i386
# programs with the patched emulator.
i686_emulated() {
  unshare --user --map-root-user --mount -- "$repo/scripts/lib/i686_binfmt_instance" \
    "$(i686_emulator)" "$i686_elf_magic" "$i686_elf_mask" "$@"
}

# Prints why the 32-bit tests cannot run here and fails, or succeeds.
i686_emulation_ready() {
  local emulator
  [ -x "$i686_wine_loader" ] || { echo "no 32-bit Wine loader at $i686_wine_loader"; return 1; }
  emulator=$(i686_emulator) || { echo "qemu-user is not installed"; return 1; }
  [ -x "$emulator" ] || { echo "the patched qemu-i386 was not built (see the bootstrap)"; return 1; }
  i686_emulated true 2>/dev/null ||
    { echo "no binfmt_misc instance of a user namespace here (needs Linux 6.7 or later)"; return 1; }
  i686_emulated "$i686_wine_loader" --version >/dev/null 2>&1 ||
    { echo "the 32-bit Wine loader does not start under emulation"; return 1; }
}
