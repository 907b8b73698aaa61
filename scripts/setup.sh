# Shared by scripts/run and scripts/test: installs what a fresh Debian 12 machine lacks and
# configures and builds the project into build/.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD_DIR=${BUILD_DIR:-$ROOT/build}

PACKAGES=(cmake ninja-build make g++ qt6-base-dev qt6-base-dev-tools qt6-serialport-dev libgl-dev
          libxcb1-dev qt6-tools-dev qt6-l10n-tools qt6-translations-l10n fonts-wqy-microhei
          xvfb xauth xdotool dbus)

install_packages() {
    local missing=()
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    echo "Installing: ${missing[*]}"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# GENERATOR=... picks another CMake generator (the default is Ninja).
build_project() {
    local dir=$1; shift
    cmake -S "$ROOT" -B "$dir" -G "${GENERATOR:-Ninja}" "$@" >/dev/null
    cmake --build "$dir" --parallel "$(nproc)"
}
