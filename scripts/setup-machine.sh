#!/usr/bin/env bash
# Idempotent machine set-up: cross compilers, Wine (32 and 64 bit), widl, CMake, Xvfb, msitools,
# osslsigncode (Authenticode signing of the DLL and the installer packages), and the qemu-i386 user
# emulator, which runs Wine's 32-bit loader (package wine32:i386) on a kernel that runs no 32-bit
# programs itself (cmake/wine-env.sh registers it for the runs that need it).
# Safe to run again; it only installs what is missing.
set -euo pipefail
# Whatever step fails, say which and what to do about it.
trap 'echo "setup-machine: \"$BASH_COMMAND\" failed (status $?). The set-up needs Debian 12, root or sudo, and access to Debian'"'"'s package archive; run it again when that holds." >&2' ERR

need=()
have_cmd() { command -v "$1" >/dev/null 2>&1; }
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

pkgs=(wine wine32:i386 wine64 mingw-w64 g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
      mingw-w64-tools libwine-dev cmake xvfb xauth msitools wixl imagemagick googletest libxml2-utils
      osslsigncode openssl qemu-user-static python3)
for p in "${pkgs[@]}"; do have_pkg "$p" || need+=("$p"); done

if [ ${#need[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
  fi
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi

# The posix thread flavour of the cross compilers gives std::shared_mutex and std::thread.
for t in i686 x86_64; do
  have_cmd "$t-w64-mingw32-g++-posix" ||
    { echo "setup-machine: $t-w64-mingw32-g++-posix is missing although its package is installed; select it with update-alternatives or reinstall g++-mingw-w64" >&2; exit 1; }
done
have_cmd i686-w64-mingw32-widl || { echo "setup-machine: widl is missing; install mingw-w64-tools" >&2; exit 1; }
[ -x /usr/lib/wine/wine64 ] || { echo "setup-machine: Wine's 64-bit loader /usr/lib/wine/wine64 is missing; install wine64" >&2; exit 1; }
[ -x /usr/lib/wine/wine ] || { echo "setup-machine: Wine's 32-bit loader /usr/lib/wine/wine is missing; install wine32:i386" >&2; exit 1; }
echo "machine ready"
