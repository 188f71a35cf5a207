#!/usr/bin/env bash
# scripts/install-deps.sh - installs the Debian packages the build, tests and demo need,
# only those that are missing. Needs root or sudo.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config        # build
  googletest libgtest-dev libgmock-dev     # tests
  libbenchmark-dev                         # benchmarks
  clang libclang-rt-14-dev                 # fuzz targets (libFuzzer)
  libjpeg62-turbo-dev                      # JPEG screenshots
  libgmime-3.0-dev                         # MIME messages for sending mail directly
  xdg-utils                                # compose window (xdg-email), opening web pages
  python3                                  # test helpers
  libdw-dev libelf-dev elfutils binutils   # elfmap (DWARF and ELF reading, objcopy, addr2line)
  libx11-dev xvfb                          # screen size and copy; a virtual display for tests
  qt6-base-dev xdotool x11-utils           # the Qt 6 widgetset; real clicks and X tools for its screen tests
  libsqlite3-dev                           # the SQLite data sets
  libunwind-dev                            # the call stack recorded at every throw (unw_backtrace)
  libcurl4-openssl-dev systemd-journal-remote systemd  # reports to a log collector; its receiver and journalctl for tests and jexcrashes
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
echo "installing: ${missing[*]}"
"${sudo_cmd[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
