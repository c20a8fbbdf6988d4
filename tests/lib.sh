# SPDX-License-Identifier: Zlib
# Shell functions the project's scripts share. Sourced, never run:
#   source "$(dirname "$0")/lib.sh"          (or the path from the script's folder)
# Every function's name starts with sfx_, so a script's own names can't clash.

# Runs "$@" as root: directly when this script already runs as root, else
# through sudo.
sfx_as_root() {
    if [ "$(id -u)" -eq 0 ]; then
        "$@"
    else
        sudo "$@"
    fi
}

# True when CI is set to anything but "", "false" or "0": there a missing tool
# fails a check instead of skipping it.
sfx_under_ci() {
    [ -n "${CI:-}" ] && [ "${CI:-}" != false ] && [ "${CI:-}" != 0 ]
}

# Ends a check that lacks `what` (e.g. "groff is missing"): status 1 under CI,
# else 77, the status ctest counts as a skip (SKIP_RETURN_CODE).
sfx_skip_or_fail() {
    if sfx_under_ci; then
        echo "FAILED: $1 (tests/run-all installs it)"
        exit 1
    fi
    echo "SKIPPED: $1 (bash tests/run-all installs it)"
    exit 77
}

# True when the Debian package NAME or NAME:ARCH is installed (not merely known,
# as one removed with its configuration left is).
sfx_package_installed() {
    [ "$(dpkg-query -W -f='${db:Status-Status}' "$1" 2>/dev/null)" = installed ]
}

# Set once the package lists are fresh; a new architecture makes them stale.
sfx_package_lists_fresh=

# Installs those of the given Debian packages (NAME or NAME:ARCH) that are
# missing, after refreshing the package lists once per script run. Leading
# arguments that start with "-" go to apt-get install as they are.
#   sfx_install_packages [APT-OPTION...] PACKAGE...
sfx_install_packages() {
    local options=() missing=() package
    while [ $# -gt 0 ] && [ "${1#-}" != "$1" ]; do
        options+=("$1")
        shift
    done
    for package in "$@"; do
        sfx_package_installed "$package" || missing+=("$package")
    done
    [ ${#missing[@]} -gt 0 ] || return 0
    echo "installing: ${missing[*]}"
    if [ -z "$sfx_package_lists_fresh" ]; then
        sfx_as_root env DEBIAN_FRONTEND=noninteractive apt-get update -qq
        sfx_package_lists_fresh=yes
    fi
    sfx_as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${options[@]}" \
        "${missing[@]}"
}

# Lets packages of the given Debian architectures (e.g. arm64, i386) be
# installed beside the machine's own.
sfx_add_architectures() {
    local arch
    for arch in "$@"; do
        if ! dpkg --print-foreign-architectures | grep -qx "$arch" &&
            [ "$arch" != "$(dpkg --print-architecture)" ]; then
            sfx_as_root dpkg --add-architecture "$arch"
            sfx_package_lists_fresh=
        fi
    done
}
