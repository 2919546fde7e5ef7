# The Wine environment of the test run: a project-owned prefix in the build folder, no debug
# output, a pinned locale (ANSI code page 1252) and time zone.
wine_env() {
  local build_dir=$1
  export WINEPREFIX="$build_dir/wineprefix"
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="
  export LANG=C.UTF-8 LC_ALL=C.UTF-8
  export TZ=UTC
  export WINE=/usr/lib/wine/wine64
}

# Wine's helpers inherit the standard streams of the first command of a prefix; keep them off
# any pipe so that ctest's capture can close.
wine_start() {
  if [ "${WINEARCH:-}" = win32 ]; then
    wine_start_i686
    return
  fi
  [ -f "$WINEPREFIX/system.reg" ] || announce_step "creating the Wine prefix $WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  "${WINESERVER:-wineserver}" -p </dev/null >/dev/null 2>&1
  "$WINE" wineboot --init </dev/null >/dev/null 2>&1
  wine_configure_prefix
}

# Runs ctest with one prefix and wineserver for the run.
run_ctest() { # preset jobs ctest-args...
  local preset=$1 jobs=$2; shift 2
  trap wine_stop EXIT
  wine_start
  ctest --preset "$preset" -j "$jobs" "$@"
}

# What the tests need of a prefix: the mass-storage tests find a simulated player on M:, a host
# folder in the build folder that Wine shows as a removable drive; windows that tests open go to
# Wine's null display driver (no X server is needed, and they still draw, for the setup
# dialog's screenshot). Wine reads the registry settings when it starts, so a prefix that has
# just been given them is started again.
wine_configure_prefix() {
  local stamp="$WINEPREFIX/.test-settings"
  wine_link_test_drives
  [ -f "$stamp" ] && return 0
  wine_add_test_settings
  wine_stop
  "${WINESERVER:-wineserver}" -w </dev/null >/dev/null 2>&1 || true
  "${WINESERVER:-wineserver}" -p </dev/null >/dev/null 2>&1
  "$WINE" wineboot --init </dev/null >/dev/null 2>&1
  touch "$stamp"
}

# The registry half of the test settings, in the running prefix.
wine_add_test_settings() {
  "$WINE" reg add 'HKLM\Software\Wine\Drives' /v 'm:' /d floppy /f </dev/null >/dev/null 2>&1
  "$WINE" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f </dev/null >/dev/null 2>&1
}

# The test drives: M: shows the prefix's own folder msc-drive next to it in the build folder
# (the simulated mass-storage player), R: its folder winfs-drive (the host tree of WinFS).
wine_link_test_drives() {
  local letter folder
  for letter in m:msc-drive r:winfs-drive; do
    folder="$WINEPREFIX/../${letter#*:}"
    mkdir -p "$folder" "$WINEPREFIX/dosdevices"
    ln -sfn "$(cd "$folder" && pwd)" "$WINEPREFIX/dosdevices/${letter%%:*}:"
  done
}

wine_stop() { "${WINESERVER:-wineserver}" -k </dev/null >/dev/null 2>&1 || true; }

# The 32-bit environment of the shipped build's tests: a 32-bit prefix run by the i386 loader
# under user-mode emulation, served by the native 64-bit wineserver. Under emulation the
# service manager hangs and is waited for, so neither it nor the service hosts are started;
# explorer, which holds the desktop the tests' windows open on, is. Emulated processes see 3 GiB of address space (Wine needs the 3G/1G
# split); the emulator's default of 4 GiB makes every allocation scan far slower.
wine_env_i686() {
  wine_env "$1"
  export WINEARCH=win32
  export WINE=$i686_wine_loader
  export WINESERVER=/usr/lib/wine/wineserver64
  export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;winedevice.exe,plugplay.exe,services.exe,winemenubuilder.exe="
  export QEMU_RESERVED_VA=0xc0000000
}

# Under emulation, creating a 32-bit prefix takes minutes. The first one booted on a machine,
# with the test settings of wine_configure_prefix, is kept as a template in the cache, keyed by
# the 32-bit Wine's version, and every prefix without those settings starts as its copy.
wine_start_i686() {
  local version template
  version=$(dpkg-query -W -f='${Version}' wine32:i386)
  template="$deps_dir/wineprefix-i686/wine32-${version//:/_}-test-settings"
  if [ ! -f "$WINEPREFIX/.test-settings" ] && [ -f "$template/.test-settings" ]; then
    rm -rf "$WINEPREFIX" && mkdir -p "$(dirname "$WINEPREFIX")"
    cp -a "$template" "$WINEPREFIX"
  fi
  if [ ! -f "$WINEPREFIX/.test-settings" ]; then
    announce_step "booting the 32-bit Wine prefix under emulation"
    rm -rf "$WINEPREFIX" && mkdir -p "$WINEPREFIX"
    # No persistent server here: wineboot returns before the set-up it starts (the system
    # files' install) has ended, and under emulation on a busy machine long before. Stopping
    # the server then would leave a prefix without its system files, so the boot waits until
    # the last of its processes has ended and the server, which writes the registry out as it
    # stops, has gone.
    wine_stop
    "$WINESERVER" -w </dev/null >/dev/null 2>&1 || true
    "$WINE" wineboot --init </dev/null >/dev/null 2>&1
    wine_add_test_settings
    "$WINESERVER" -w </dev/null >/dev/null 2>&1 || true
    if [ ! -f "$WINEPREFIX/drive_c/windows/system32/kernel32.dll" ]; then
      echo "The 32-bit Wine prefix did not boot: $WINEPREFIX has no system files." >&2
      return 1
    fi
    touch "$WINEPREFIX/.test-settings"
    wine_save_template "$template"
  fi
  wine_link_test_drives
  "$WINESERVER" -p </dev/null >/dev/null 2>&1
}

# Copies the booted prefix under a name of its own, then renames it into place; where another
# clone was first, its template stays.
wine_save_template() { # template
  local template=$1 copy="$1.$$"
  [ -f "$template/.test-settings" ] && return 0
  mkdir -p "$(dirname "$template")"
  rm -rf "$copy"
  cp -a "$WINEPREFIX" "$copy" && rm -f "$copy/wineserver" &&
    mv -T "$copy" "$template" 2>/dev/null || rm -rf "$copy"
}
