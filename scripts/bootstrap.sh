# Sourced by ./run and ./test: installs the Debian packages the build needs.
# As root it installs what is missing; as another user it prints the one
# command to run and stops.

TAVIREL_PACKAGES=(
    cmake ninja-build g++ pkg-config
    qt6-base-dev libre2-dev libidn2-dev
    libcurl4-openssl-dev libssl-dev nlohmann-json3-dev
    libgtest-dev libgmock-dev
    libsqlite3-dev
    libc-ares-dev zlib1g-dev nsd libldns-dev
    whois xvfb xauth xdotool libx11-dev openssl microsocks
    dpkg-dev file
    clang libclang-rt-14-dev
    fonts-wqy-microhei fonts-arphic-ukai
    qt6-translations-l10n
)

tavirel_missing_packages() {
    local p
    for p in "${TAVIREL_PACKAGES[@]}"; do
        if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
            printf '%s\n' "$p"
        fi
    done
}

tavirel_bootstrap() {
    local missing
    missing=$(tavirel_missing_packages | tr '\n' ' ')
    missing=${missing% }
    [ -z "$missing" ] && return 0
    if [ "$(id -u)" -ne 0 ]; then
        echo "Some packages this program needs are missing. Install them with:" >&2
        echo "  sudo apt-get update && sudo apt-get install -y $missing" >&2
        exit 1
    fi
    echo "Installing: $missing" >&2
    export DEBIAN_FRONTEND=noninteractive
    apt-get update >&2
    # shellcheck disable=SC2086
    apt-get install -y --no-install-recommends $missing >&2
}
