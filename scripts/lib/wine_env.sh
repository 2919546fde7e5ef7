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

# What the tests need of a prefix, set once: the mass-storage tests find a simulated player on
# M:, a host folder in the build folder that Wine shows as a removable drive; windows that tests
# open go to Wine's null display driver (no X server is needed, and they still draw, for the
# setup dialog's screenshot). Wine reads both when it starts, so a prefix that has just been
# given them is started again.
wine_configure_prefix() {
  local stamp="$WINEPREFIX/.test-settings" folder="$WINEPREFIX/../msc-drive"
  [ -f "$stamp" ] && return 0
  mkdir -p "$folder"
  ln -sfn "$(cd "$folder" && pwd)" "$WINEPREFIX/dosdevices/m:"
  "$WINE" reg add 'HKLM\Software\Wine\Drives' /v 'm:' /d floppy /f </dev/null >/dev/null 2>&1
  "$WINE" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f </dev/null >/dev/null 2>&1
  wineserver -k </dev/null >/dev/null 2>&1 || true
  wineserver -w </dev/null >/dev/null 2>&1 || true
  wineserver -p </dev/null >/dev/null 2>&1
  "$WINE" wineboot --init </dev/null >/dev/null 2>&1
  touch "$stamp"
}

wine_stop() { "${WINESERVER:-wineserver}" -k </dev/null >/dev/null 2>&1 || true; }

# The 32-bit environment of the shipped build's tests: a 32-bit prefix run by the i386 loader
# under user-mode emulation, served by the native 64-bit wineserver. Under emulation the
# service hosts crash or hang and are waited for, and none of the tests needs them, so they
# are not started. Emulated processes see 3 GiB of address space (Wine needs the 3G/1G
# split); the emulator's default of 4 GiB makes every allocation scan far slower.
wine_env_i686() {
  wine_env "$1"
  export WINEARCH=win32
  export WINE=$i686_wine_loader
  export WINESERVER=/usr/lib/wine/wineserver64
  export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;winedevice.exe,plugplay.exe,explorer.exe,services.exe,winemenubuilder.exe="
  export QEMU_RESERVED_VA=0xc0000000
}

# Under emulation, creating a 32-bit prefix takes minutes. The first one booted on a machine is
# kept as a template in the cache, keyed by the 32-bit Wine's version, and a new prefix starts
# as its copy. The tests need neither setting of wine_configure_prefix, so a prefix that exists
# is not booted again.
wine_start_i686() {
  local version template
  version=$(dpkg-query -W -f='${Version}' wine32:i386)
  template="$deps_dir/wineprefix-i686/wine32-${version//:/_}"
  if [ ! -f "$WINEPREFIX/system.reg" ] && [ -f "$template/system.reg" ]; then
    rm -rf "$WINEPREFIX" && mkdir -p "$(dirname "$WINEPREFIX")"
    cp -a "$template" "$WINEPREFIX"
  fi
  mkdir -p "$WINEPREFIX"
  "$WINESERVER" -p </dev/null >/dev/null 2>&1
  [ -f "$WINEPREFIX/system.reg" ] && return 0
  "$WINE" wineboot --init </dev/null >/dev/null 2>&1
  # The server writes the registry out when it stops.
  wine_stop
  "$WINESERVER" -w </dev/null >/dev/null 2>&1 || true
  wine_save_template "$template"
  "$WINESERVER" -p </dev/null >/dev/null 2>&1
}

# Copies the booted prefix under a name of its own, then renames it into place; where another
# clone was first, its template stays.
wine_save_template() { # template
  local template=$1 copy="$1.$$"
  [ -f "$template/system.reg" ] && return 0
  mkdir -p "$(dirname "$template")"
  rm -rf "$copy"
  cp -a "$WINEPREFIX" "$copy" && rm -f "$copy/wineserver" &&
    mv -T "$copy" "$template" 2>/dev/null || rm -rf "$copy"
}
