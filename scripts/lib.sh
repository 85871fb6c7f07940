# Shared helpers of the project's scripts (sourced).

# Installs the Debian packages that are missing, as root with apt-get.
need_packages() {
    missing=""
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" ||
            missing="$missing $p"
    done
    [ -z "$missing" ] && return 0
    echo "== installing$missing"
    apt_get=apt-get
    [ "$(id -u)" = 0 ] || apt_get="sudo apt-get"
    export DEBIAN_FRONTEND=noninteractive
    $apt_get update -qq >/dev/null || true
    # shellcheck disable=SC2086
    $apt_get install -y -qq --no-install-recommends $missing >/dev/null
}

# Makes DIR an empty device root as the installer expects it: flash with its boot partition
# and package database, the RAM disk, the download folder and /tmp.
device_root() {
    mkdir -p "$1/flash/var/pdb" "$1/flash/boot" "$1/ram" "$1/rw/pckg/.download" "$1/tmp"
}
