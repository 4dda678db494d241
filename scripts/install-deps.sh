#!/usr/bin/env bash
# Installs whatever the build and the tests need and is not on the machine yet:
# the MinGW-w64 i686 cross compiler, Wine with its 32-bit part, CMake, GoogleTest,
# Google Benchmark, zlib, libdeflate and gzip (benchmark baselines), clang's
# libFuzzer and clang-format, icoutils and osslsigncode.
#
#   scripts/install-deps.sh          says in one line what it will install or change,
#                                    then does it; changes nothing when all is present
#   scripts/install-deps.sh --check  exits 0 when nothing is missing, 1 otherwise;
#                                    prints and changes nothing
#
# Wine's 32-bit loader is an i386 Linux program. System settings are touched only
# when this machine cannot run one: a kernel without IA-32 emulation and no working
# binfmt_misc registration of an emulator. Then qemu-user 8.1 or later runs it
# (qemu 7.2 takes a minute per Wine start under Wine's address-space reservation,
# 8.1 a second): on Debian 12 it comes from bookworm-backports, through the mirror
# that the machine's own apt configuration uses for the Debian archive's bookworm
# suite, and it is registered for i386 programs unless its package did so.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BACKPORTS_SOURCE=/etc/apt/sources.list.d/kvn-backports.sources

have_cmd() { command -v "$1" >/dev/null 2>&1; }
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

# Prints the packages to install, one per line.
missing_packages() {
  have_cmd cmake                || echo cmake
  have_cmd make                 || echo make
  have_cmd g++                  || echo g++
  have_cmd clang++              || echo clang
  have_cmd clang-format         || echo clang-format
  have_cmd i686-w64-mingw32-g++ || echo g++-mingw-w64-i686
  have_cmd wrestool             || echo icoutils
  have_cmd osslsigncode         || echo osslsigncode
  have_cmd openssl              || echo openssl
  have_cmd python3              || echo python3
  have_pkg libgtest-dev         || echo libgtest-dev
  have_pkg libgmock-dev         || echo libgmock-dev
  have_pkg libbenchmark-dev     || echo libbenchmark-dev
  have_pkg zlib1g-dev           || echo zlib1g-dev
  have_pkg libdeflate-dev       || echo libdeflate-dev
  have_cmd gzip                 || echo gzip
  if ! have_pkg wine32:i386 || ! have_cmd wine; then printf '%s\n' wine wine32:i386 wine64; fi
}

# True when this machine runs i386 Linux programs, natively or through a working
# binfmt_misc registration. The probe is a 96-byte static i386 program that only
# exits with status 42: it needs no i386 libraries. It is written into build/, as
# a temporary directory may forbid running programs.
i386_runs() {
  mkdir -p "$ROOT/build"
  local probe rc=0
  probe=$(mktemp "$ROOT/build/.i386-probe.XXXXXX")
  printf '\177\105\114\106\001\001\001\000\000\000\000\000\000\000\000\000\002\000\003\000\001\000\000\000\124\200\004\010\064\000\000\000\000\000\000\000\000\000\000\000\064\000\040\000\001\000\000\000\000\000\000\000\001\000\000\000\000\000\000\000\000\200\004\010\000\200\004\010\140\000\000\000\140\000\000\000\005\000\000\000\000\020\000\000\270\001\000\000\000\273\052\000\000\000\315\200' >"$probe"
  chmod +x "$probe"
  "$probe" 2>/dev/null || rc=$?
  rm -f "$probe"
  [ "$rc" -eq 42 ]
}

qemu_ok() {
  have_cmd qemu-i386-static &&
    qemu-i386-static --version | awk 'NR==1{split($3,v,"."); exit !(v[1]>8 || (v[1]==8 && v[2]>=1))}'
}

os_codename() { (. /etc/os-release 2>/dev/null && echo "${VERSION_CODENAME:-}"); }

# Prints one line per enabled binary ("deb") apt entry of the given apt directory,
# in apt's reading order: file, URI, suites, components and Signed-By, separated
# by tabs. Signed-By keeps its continuation lines (an embedded key) joined by \037.
apt_entries() {
  local etc=$1 f
  for f in "$etc"/sources.list "$etc"/sources.list.d/*; do
    [ -f "$f" ] || continue
    case $f in
      *.sources) deb822_entries "$f" ;;
      */sources.list | *.list) one_line_entries "$f" ;;
    esac
  done
}

deb822_entries() {
  awk -v file="$1" '
    function flush() {
      if (types ~ /(^| )deb( |$)/ && enabled != "no" && uris != "")
        printf "%s\t%s\t%s\t%s\t%s\n", file, uris, suites, comps, signed
      types = uris = suites = comps = signed = enabled = key = ""
    }
    /^[ \t]*$/ { flush(); next }
    /^#/ { next }
    /^[ \t]/ { if (key == "signed-by") signed = signed "\037" $0; next }
    {
      key = tolower(substr($0, 1, index($0, ":") - 1))
      value = substr($0, index($0, ":") + 1); gsub(/^[ \t]+|[ \t]+$/, "", value)
      if (key == "types") types = value
      else if (key == "uris") { split(value, u, /[ \t]+/); uris = u[1] }
      else if (key == "suites") suites = value
      else if (key == "components") comps = value
      else if (key == "signed-by") signed = value
      else if (key == "enabled") enabled = tolower(value)
    }
    END { flush() }' "$1"
}

one_line_entries() {  # deb [option=value ...] URI suite component...
  awk -v file="$1" '
    { sub(/#.*/, "") }
    $1 != "deb" { next }
    {
      line = $0; signed = ""
      sub(/^[ \t]*deb[ \t]+/, "", line)
      if (line ~ /^\[/) {
        options = substr(line, 2, index(line, "]") - 2)
        line = substr(line, index(line, "]") + 1)
        n = split(options, o, /[ \t]+/)
        for (i = 1; i <= n; i++) if (tolower(o[i]) ~ /^signed-by=/) signed = substr(o[i], 11)
      }
      n = split(line, w, /[ \t]+/); k = 0
      for (i = 1; i <= n; i++) if (w[i] != "") field[++k] = w[i]
      comps = ""
      for (i = 3; i <= k; i++) comps = comps (i > 3 ? " " : "") field[i]
      if (k >= 3) printf "%s\t%s\t%s\t%s\t%s\n", file, field[1], field[2], comps, signed
    }' "$1"
}

# True when an apt entry of the given directory carries the suite.
has_suite() { apt_entries "$1" | awk -F'\t' -v s="$2" '{ n = split($3, x, " "); for (i = 1; i <= n; i++) if (x[i] == s) found = 1 } END { exit !found }'; }

# Prints "file<TAB>URI<TAB>Signed-By" of the entry that carries the Debian
# archive's bookworm suite with its main component. Where apt has read the
# entries' Release files, an entry is taken only when its origin is Debian (a
# third-party repository may call its suite bookworm too); otherwise the first
# such entry is taken.
debian_bookworm_entry() {
  local etc=$1 debian_uris
  debian_uris=$(apt-get indextargets --format '$(RELEASE) $(REPO_URI) $(ORIGIN)' 2>/dev/null |
    awk '$1 == "bookworm" && $3 == "Debian" && NF == 3 { sub(/\/$/, "", $2); print $2 }' | sort -u || true)
  apt_entries "$etc" | awk -F'\t' -v debian="$debian_uris" '
    BEGIN { n = split(debian, d, "\n"); for (i = 1; i <= n; i++) known[d[i]] = 1 }
    {
      ns = split($3, s, " "); nc = split($4, c, " "); suite = comp = 0
      for (i = 1; i <= ns; i++) if (s[i] == "bookworm") suite = 1
      for (i = 1; i <= nc; i++) if (c[i] == "main") comp = 1
      if (!suite || !comp) next
      uri = $2; sub(/\/$/, "", uri)
      if (n == 0 || (uri in known)) { print $1 "\t" $2 "\t" $5; exit }
    }'
}

backports_source_text() {  # URI, Signed-By (continuation lines joined by \037)
  printf 'Types: deb\nURIs: %s\nSuites: bookworm-backports\nComponents: main\n' "$1"
  [ -z "$2" ] || printf 'Signed-By: %s\n' "$2" | tr '\037' '\n'
}

main() {
  local check_only=0
  [ "${1:-}" != --check ] || check_only=1

  local -a need
  mapfile -t need < <(missing_packages)
  local add_i386=0 want_qemu=0 want_backports=0 want_binfmt=0 entry=""
  if printf '%s\n' "${need[@]}" | grep -q ':i386$' && ! dpkg --print-foreign-architectures | grep -qx i386; then
    add_i386=1
  fi
  if ! i386_runs; then
    want_binfmt=1
    qemu_ok || want_qemu=1
    if [ $want_qemu -eq 1 ] && [ "$(os_codename)" = bookworm ] && ! has_suite /etc/apt bookworm-backports; then
      want_backports=1
    fi
  fi

  if [ ${#need[@]} -eq 0 ] && [ $add_i386 -eq 0 ] && [ $want_binfmt -eq 0 ]; then
    [ $check_only -eq 1 ] || echo "install-deps: everything the build and the tests need is present" >&2
    exit 0
  fi
  [ $check_only -eq 0 ] || exit 1

  if [ $want_backports -eq 1 ]; then
    entry=$(debian_bookworm_entry /etc/apt)
    if [ -z "$entry" ]; then
      echo "install-deps: this kernel cannot run i386 programs and qemu-user 8.1+ needs bookworm-backports," \
        "but no apt entry carries the Debian archive's bookworm suite to take its mirror from" >&2
      exit 1
    fi
  fi

  local -a plan=()
  local qemu_from="" i
  [ $want_backports -eq 1 ] || has_suite /etc/apt bookworm-backports && qemu_from=" from bookworm-backports"
  [ ${#need[@]} -eq 0 ] || plan+=("install ${need[*]}")
  [ $want_qemu -eq 0 ] || plan+=("install qemu-user-static$qemu_from")
  [ $add_i386 -eq 0 ] || plan+=("add the i386 architecture to dpkg")
  [ $want_backports -eq 0 ] || plan+=("add $BACKPORTS_SOURCE with the mirror of the bookworm entry in $(cut -f1 <<<"$entry")")
  if [ $want_binfmt -eq 1 ]; then
    local register="register qemu-i386-static for i386 programs in binfmt_misc"
    [ ! -e /proc/sys/fs/binfmt_misc/qemu-i386 ] || register+=" in place of its registration that does not work"
    [ $want_qemu -eq 0 ] || register+=" unless its package does"
    plan+=("$register")
  fi
  local line="install-deps: will ${plan[0]}"
  for ((i = 1; i < ${#plan[@]}; i++)); do line+="; ${plan[i]}"; done
  echo "$line" >&2

  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  [ $add_i386 -eq 0 ] || $sudo dpkg --add-architecture i386
  if [ $want_backports -eq 1 ] && [ ! -e "$BACKPORTS_SOURCE" ]; then
    backports_source_text "$(cut -f2 <<<"$entry")" "$(cut -f3 <<<"$entry")" | $sudo tee "$BACKPORTS_SOURCE" >/dev/null
  fi
  if [ ${#need[@]} -gt 0 ] || [ $want_qemu -eq 1 ]; then
    $sudo apt-get update -qq
  fi
  [ ${#need[@]} -eq 0 ] || $sudo apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
  if [ $want_qemu -eq 1 ]; then
    if [ -n "$qemu_from" ]; then
      $sudo apt-get install -y -qq --no-install-recommends -t bookworm-backports qemu-user-static >/dev/null
    else
      $sudo apt-get install -y -qq --no-install-recommends qemu-user-static >/dev/null
    fi
    qemu_ok || { echo "install-deps: qemu-user-static older than 8.1 was installed; Wine starts would take a minute" >&2; exit 1; }
  fi

  if [ $want_binfmt -eq 1 ] && ! i386_runs; then
    local binfmt=/proc/sys/fs/binfmt_misc
    [ -e $binfmt/register ] || $sudo mount -t binfmt_misc binfmt_misc $binfmt
    # A registration that is there but does not work (its interpreter gone) goes;
    # F opens the interpreter now, so it works in other mount namespaces too.
    [ ! -e $binfmt/qemu-i386 ] || echo -1 | $sudo tee $binfmt/qemu-i386 >/dev/null
    printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' |
      $sudo tee $binfmt/register >/dev/null
  fi
  if [ $want_binfmt -eq 1 ] && ! i386_runs; then
    echo "install-deps: i386 programs still cannot run" >&2
    exit 1
  fi
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then main "$@"; fi
