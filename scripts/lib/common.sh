# Shared by the scripts: paths, the dependency cache key and quiet command runs.
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
deps_dir=${TORVEX_DEPS_DIR:-$HOME/.cache/torvex-deps}
log_dir="$deps_dir/logs"

# The compiler cache is shared by every clone on this machine: paths below the clone are hashed
# relative to it, and the working folder is left out of the hash.
export CCACHE_DIR=${CCACHE_DIR:-$HOME/.cache/ccache}
export CCACHE_BASEDIR=$repo
export CCACHE_NOHASHDIR=1
export CCACHE_MAXSIZE=${CCACHE_MAXSIZE:-8G}

# Debian packages the build, the tests and their oracles need.
packages=(
  mingw-w64 g++-mingw-w64 mingw-w64-tools
  wine wine64 fonts-wine
  cmake ninja-build make ccache python3 dpkg-dev googletest
  lame sox flac vorbis-tools ffmpeg id3v2 eyed3 python3-mutagen db5.3-util python3-bsddb3
  dosfstools fdisk
  libxml2-utils libimage-exiftool-perl
)

# What the 32-bit tests need: the emulator, what patching and building it takes, and the i386
# Wine (see lib/i686_emulation.sh).
i686_packages=(qemu-user meson libglib2.0-dev patch wine32:i386)

missing_packages() { # [package...]: those of the list (default: the build's) not installed
  local p missing=()
  [ $# -gt 0 ] || set -- "${packages[@]}"
  for p in "$@"; do
    dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  echo "${missing[*]}"
}

# Debian source packages cross-built for both targets, and the versions the cache is keyed by.
source_names=(libogg libvorbis flac db5.3)
declare -A source_versions=(
  [libogg]=1.3.5-3
  [libvorbis]=1.3.7-1
  [flac]=1.4.2+ds-2
  [db5.3]=5.3.28+dfsg2-1
)
# Bumped when a library's build recipe changes, so that a cache made by the old recipe is
# rebuilt (the stamp names the recipe too).
declare -A recipe_revisions=(
  [db5.3]=2
)

dependency_key() { # name -> the stamp's name
  local revision=${recipe_revisions[$1]:-}
  echo "$1-${source_versions[$1]}${revision:+-r$revision}"
}

# Runs a command as root (through sudo when not root).
as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

triplet_of() { case $1 in i686) echo i686-w64-mingw32 ;; x86_64) echo x86_64-w64-mingw32 ;; esac; }

all_dependencies_built() {
  local target name
  for target in i686 x86_64; do
    for name in "${source_names[@]}"; do
      [ -f "$deps_dir/$target/.stamps/$(dependency_key "$name")" ] || return 1
    done
  done
}

# Says that a set-up step starts: each runs once on a machine, and the first time is slow.
announce_step() { echo "Set-up: $1 (first time only, takes minutes)..."; }

# Runs a command with its output in a log file; shows the log's tail only when it fails.
run_logged() {
  local what=$1; shift
  mkdir -p "$log_dir"
  local log="$log_dir/$(echo "$what" | tr -c 'A-Za-z0-9._-' '_').log"
  if ! "$@" >"$log" 2>&1; then
    echo "FAILED: $what (log: $log)" >&2
    tail -n 40 "$log" >&2
    return 1
  fi
}

# Everything installed and built?
bootstrap_done() {
  # The 32-bit loader must not stay in the 64-bit Wine's folder (see bootstrap).
  [ -z "$(missing_packages)" ] && [ -z "$(missing_packages "${i686_packages[@]}")" ] &&
    [ ! -e /usr/lib/wine/wine ] && all_dependencies_built && [ -x "$(i686_emulator)" ]
}

# Installs the i686 build's deliverables, stripped, into a fresh dist/ (nothing else lands
# there); the build folder keeps the copies with debug symbols.
install_deliverables() {
  rm -rf "$repo/dist"
  cmake --install "$repo/build/i686" --prefix "$repo/dist" --strip >/dev/null
}

source "$repo/scripts/lib/i686_emulation.sh"
