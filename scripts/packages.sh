# Debian packages the build and the tests need, and the one function that
# installs them (as root) or names exactly what is missing.

BUILD_PACKAGES=(cmake ninja-build clang-19 lld-19 llvm-19)
TEST_PACKAGES=("${BUILD_PACKAGES[@]}" g++ pkg-config llvm-19-dev libunicorn-dev libcli11-dev libfmt-dev
               nlohmann-json3-dev libgtest-dev libicu-dev libbenchmark-dev libzstd-dev libclang-rt-19-dev
               mingw-w64-common wine64 libxkbcommon-dev xkb-data x11-xkb-utils libxml2-dev libxml2-utils
               chromium chromium-driver python3-selenium fonts-dejavu-core)
# mingw-w64-common: the Windows headers of the cross-built programs (every machine);
# wine64: runs the x64 test program (scripts/wine).
# libxkbcommon-dev: kbdtool's Linux export; xkb-data and x11-xkb-utils: its tests (the system's
# rules, xkbcomp).
# libxml2-dev and libxml2-utils: the macOS export's tests (reading the .keylayout, xmllint against the DTD).
# chromium, chromium-driver, python3-selenium: the learning page's browser tests;
# fonts-dejavu-core: the fonts its screenshot is taken with.
# scripts/hostile measures each run with GNU time's -v.
BENCH_PACKAGES=(time)

ensure_packages() {
    local missing=() p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" -ne 0 ]; then
        echo "Missing Debian packages: ${missing[*]}" >&2
        echo "Install them with:  sudo apt-get install ${missing[*]}" >&2
        echo "(or run this script as root, and it installs them itself)" >&2
        exit 1
    fi
    echo "Installing ${missing[*]} ..."
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# scripts/package: the cross toolchain, the Windows headers of the setups, zip.
PACKAGE_PACKAGES=("${BUILD_PACKAGES[@]}" mingw-w64-common zip)
# scripts/package --sign: osslsigncode signs the images and the setups.
SIGN_PACKAGES=(osslsigncode)
TEST_PACKAGES+=(zip python3-jsonschema python3-yaml "${SIGN_PACKAGES[@]}" openssl)
# openssl: the signing test makes its throwaway certificate with it.
# python3-jsonschema, python3-yaml: scripts/winget-check reads the winget manifest and checks it
# against winget's schemas.
