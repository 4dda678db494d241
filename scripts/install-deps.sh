#!/usr/bin/env bash
# Installs whatever the build and the tests need and is not on the machine yet:
# the MinGW-w64 i686 cross compiler, Wine with its 32-bit part, CMake, GoogleTest,
# Google Benchmark, zlib (benchmark baseline), clang's libFuzzer, icoutils and
# osslsigncode. Safe to run again: it only calls apt-get when something is missing.
set -euo pipefail

need=()
have_cmd() { command -v "$1" >/dev/null 2>&1; }
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

have_cmd cmake                  || need+=(cmake)
have_cmd make                   || need+=(make)
have_cmd g++                    || need+=(g++)
have_cmd clang++                || need+=(clang)
have_cmd i686-w64-mingw32-g++   || need+=(g++-mingw-w64-i686)
have_cmd wrestool               || need+=(icoutils)
have_cmd osslsigncode           || need+=(osslsigncode)
have_cmd openssl                || need+=(openssl)
have_cmd python3                || need+=(python3)
have_pkg libgtest-dev           || need+=(libgtest-dev)
have_pkg libgmock-dev           || need+=(libgmock-dev)
have_pkg libbenchmark-dev       || need+=(libbenchmark-dev)
have_pkg zlib1g-dev             || need+=(zlib1g-dev)
have_pkg wine32:i386            || need+=(wine wine32:i386 wine64)
have_cmd wine                   || need+=(wine)

# Wine's 32-bit loader is an i386 Linux program. Kernels built without IA-32
# emulation cannot start it; there qemu-user runs it, registered through
# binfmt_misc. qemu 7.2 (bookworm) takes a minute per Wine start under Wine's
# address-space reservation; the backports qemu (8.1 and later) takes a second.
ia32_native() { [ -e /lib/ld-linux.so.2 ] && /lib/ld-linux.so.2 --version >/dev/null 2>&1; }
qemu_ok() { command -v qemu-i386-static >/dev/null 2>&1 &&
  qemu-i386-static --version | awk 'NR==1{split($3,v,"."); exit !(v[1]>8 || (v[1]==8 && v[2]>=1))}'; }
want_qemu=0
if [ ! -e /lib/ld-linux.so.2 ]; then
  want_qemu=1          # decided after wine32 brings the i386 libc
elif ! ia32_native; then
  want_qemu=1
fi

if [ ${#need[@]} -eq 0 ] && { [ $want_qemu -eq 0 ] || { qemu_ok && [ -e /proc/sys/fs/binfmt_misc/qemu-i386 ]; }; }; then
  exit 0
fi

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
[ ${#need[@]} -eq 0 ] || echo "install-deps: installing ${need[*]}" >&2
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
if [ ${#need[@]} -gt 0 ]; then
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi

if ! ia32_native; then
  if ! qemu_ok; then
    echo "install-deps: this kernel cannot run i386 programs; installing qemu-user from bookworm-backports" >&2
    if [ ! -e /etc/apt/sources.list.d/kvn-backports.sources ]; then
      printf 'Types: deb\nURIs: http://deb.debian.org/debian\nSuites: bookworm-backports\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' |
        $SUDO tee /etc/apt/sources.list.d/kvn-backports.sources >/dev/null
    fi
    $SUDO apt-get update -qq
    $SUDO apt-get install -y -qq --no-install-recommends -t bookworm-backports qemu-user-static >/dev/null
  fi
  if [ ! -e /proc/sys/fs/binfmt_misc/register ]; then
    $SUDO mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
  fi
  # Register afresh: the F flag pins the interpreter file that was current then.
  if [ -e /proc/sys/fs/binfmt_misc/qemu-i386 ]; then
    echo -1 | $SUDO tee /proc/sys/fs/binfmt_misc/qemu-i386 >/dev/null
  fi
  printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' |
    $SUDO tee /proc/sys/fs/binfmt_misc/register >/dev/null
  ia32_native || { echo "install-deps: i386 programs still cannot run" >&2; exit 1; }
fi
