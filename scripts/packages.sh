# Sourced by run.sh and test.sh: the Debian packages Corvella builds and runs with, and the
# installation of the ones that are missing (apt-get, as root or through sudo).

# Building and running the program.
CORVELLA_PACKAGES=(cmake g++ make pkg-config zlib1g-dev libgtest-dev libgmock-dev libbenchmark-dev
                   qt6-base-dev qt6-tools-dev qt6-tools-dev-tools qt6-l10n-tools libqt6svg6)
# The tests on top: the reference readers, the encoders behind the fixtures, and clang for the
# fuzz targets.
CORVELLA_TEST_PACKAGES=(python3-mutagen ffmpeg eyed3 kid3-cli lame flac oggz-tools vorbis-tools opus-tools atomicparsley
                        wavpack musepack-tools mediainfo
                        clang libclang-rt-14-dev)

install_missing() {
  local missing=() p
  for p in "$@"; do
    if [[ "$(dpkg-query -W -f='${db:Status-Abbrev}' "$p" 2>/dev/null)" != ii* ]]; then missing+=("$p"); fi
  done
  if ((${#missing[@]} == 0)); then
    echo "== packages: all installed"
    return
  fi
  local sudo=()
  if ((EUID != 0)); then sudo=(sudo); fi
  echo "== installing: ${missing[*]}"
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y "${missing[@]}"
}
