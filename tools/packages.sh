# Sourced by the set-up scripts: installs the Debian packages given that are
# not installed yet (apt-get update only when something is missing).
verdel_install_packages() {
  local missing=()
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -q >/dev/null
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q "${missing[@]}" >/dev/null
}

VERDEL_BUILD_PACKAGES=(cmake make g++ python3 googletest libgtest-dev libbenchmark-dev
  # dialogs on Linux (GTK 3), and the test helper that closes X windows
  pkg-config libgtk-3-dev libx11-dev)
VERDEL_TEST_PACKAGES=(tmux g++-mingw-w64-x86-64 g++-mingw-w64-i686 mingw-w64-tools wine wine64
  # dialogs: private X displays, keys and clicks, screenshots, and the
  # accessibility tree (AT-SPI over a private D-Bus session)
  xvfb xauth xdotool x11-apps imagemagick dbus dbus-daemon at-spi2-core python3-pyatspi
  # the tutor run from the installer without a terminal opens in one
  xterm)
# The speech component on Linux: espeak-ng speaks through PulseAudio and
# pocketsphinx recognises with its American English model (needed at run
# time too: tools/run installs these); its tests make speech with espeak-ng
# and sox and run a private PulseAudio server.
VERDEL_BUILD_PACKAGES+=(libespeak-ng-dev espeak-ng-data libpulse-dev
  libpocketsphinx-dev libsphinxbase-dev pocketsphinx-en-us)
VERDEL_TEST_PACKAGES+=(espeak-ng sox pulseaudio pulseaudio-utils)
# Hardening stages: fuzz targets with clang's libFuzzer (its runtime is in
# libclang-rt-dev) and readable sanitizer reports (llvm-symbolizer).
VERDEL_TEST_PACKAGES+=(clang libclang-rt-dev llvm)
