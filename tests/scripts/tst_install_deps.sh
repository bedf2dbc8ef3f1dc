#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# SPDX-FileCopyrightText: 2026 The Corla developers
# tst_install_deps.sh INSTALL_DEPS: runs scripts/install-deps against fake dpkg-query, id,
# sudo and apt-get. PATH holds nothing but the fakes and the real grep, sed and env, so no
# real apt-get or sudo can run, whatever install-deps does.
#
# Each row: `given UID SUDO MISSING [REMOVED]` builds the fakes (SUDO: absent, password or
# ok; MISSING: packages dpkg-query does not know; REMOVED: removed with configuration left),
# `run ARGS...` runs install-deps, `expect STATUS STDOUT STDERR LOG` compares (glob
# patterns; LOG: the fake sudo's and apt-get's calls, one a line).
set -eu
script=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
tmp=$(mktemp -d "${TMPDIR:-/tmp}/tst_install_deps.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
bin=$tmp/bin
log=$tmp/log
failures=0
name=""

fake() {
    printf '#!/bin/sh\n%s\n' "$2" >"$bin/$1"
    chmod +x "$bin/$1"
}

# shellcheck disable=SC2016 # the fakes' variables expand when the fakes run
given() {
    rm -rf "$bin" "$log"
    mkdir "$bin"
    : >"$log"
    for tool in grep sed env; do ln -s "$(command -v "$tool")" "$bin/$tool"; done
    export FAKE_UID="$1" FAKE_MISSING="$3" FAKE_REMOVED="${4:-}" FAKE_LOG="$log"
    export FAKE_APT_STATUS=0
    fake id 'echo "$FAKE_UID"'
    fake true 'exit 0'
    fake dpkg-query 'for p in "$@"; do :; done
case " $FAKE_MISSING " in *" $p "*) echo "dpkg-query: no packages found matching $p" >&2; exit 1 ;; esac
case " $FAKE_REMOVED " in *" $p "*) printf "deinstall ok config-files"; exit 0 ;; esac
printf "install ok installed"'
    fake apt-get 'echo "DEBIAN_FRONTEND=${DEBIAN_FRONTEND:-} apt-get $*" >>"$FAKE_LOG"
[ "$1" = update ] || exit "$FAKE_APT_STATUS"'
    case $2 in
    absent) ;;
    password) fake sudo 'echo "sudo $*" >>"$FAKE_LOG"; echo "sudo: a password is required" >&2; exit 1' ;;
    ok) fake sudo 'echo "sudo $*" >>"$FAKE_LOG"; [ "$1" = -n ] && shift; exec "$@"' ;;
    esac
}

run() {
    status=0
    PATH=$bin "$script" "$@" >"$tmp/out" 2>"$tmp/err" || status=$?
}

expect() {
    check() {
        # shellcheck disable=SC2254 # the expectation is a pattern
        case $3 in
        $2) ;;
        *)
            echo "FAIL: $name: $1"
            echo "  expected: $2" | sed '2,$s/^/            /'
            echo "  got:      $3" | sed '2,$s/^/            /'
            failures=$((failures + 1))
            ;;
        esac
    }
    check status "$1" "$status"
    check stdout "$2" "$(cat "$tmp/out")"
    check stderr "$3" "$(cat "$tmp/err")"
    check "sudo and apt-get calls" "$4" "$(cat "$log")"
}

row() { name=$1; }

row "normal user, nothing missing: silent success, no sudo asked"
given 1000 password ""
run
expect 0 "" "" ""

row "normal user without sudo: the missing packages and the line that installs them"
given 1000 absent "ninja-build libqt5svg5-dev"
run
expect 1 "" "install-deps: missing: ninja-build libqt5svg5-dev
install-deps: run as root: apt-get update && apt-get install --no-install-recommends ninja-build libqt5svg5-dev" ""

row "normal user whose sudo wants a password: asked without a prompt, then told"
given 1000 password "xauth"
run
expect 1 "" "install-deps: missing: xauth
install-deps: run as root: apt-get update && apt-get install --no-install-recommends xauth" "sudo -n true"

row "removed with its configuration left counts as missing"
given 1000 absent "" "cmake"
run
expect 1 "" "install-deps: missing: cmake
install-deps: run as root: apt-get update && apt-get install --no-install-recommends cmake" ""

row "plain run does not ask for the fuzzer's, cross compiler's, packaging or format tools"
given 1000 absent "clang libclang-rt-14-dev g++-mingw-w64-x86-64 lintian help2man clang-format"
run
expect 0 "" "" ""

row "--fuzz adds clang and its runtime"
given 1000 absent "clang libclang-rt-14-dev g++-mingw-w64-x86-64"
run --fuzz
expect 1 "" "install-deps: missing: clang libclang-rt-14-dev
install-deps: run as root: apt-get update && apt-get install --no-install-recommends clang libclang-rt-14-dev" ""

row "options add up, each package named once"
given 1000 absent "clang-format g++-mingw-w64-x86-64 lintian qtbase5-dev"
run --cross --format --package --format
expect 1 "" "install-deps: missing: qtbase5-dev g++-mingw-w64-x86-64 clang-format lintian
install-deps: run as root: apt-get update && apt-get install --no-install-recommends qtbase5-dev g++-mingw-w64-x86-64 clang-format lintian" ""

row "--sanitize asks for the sanitizer runtimes"
given 1000 absent "libasan8"
run --sanitize
expect 1 "" "install-deps: missing: libasan8
install-deps: run as root: apt-get update && apt-get install --no-install-recommends libasan8" ""

row "root: apt-get update, then install exactly the missing packages"
given 0 absent "xvfb fonts-dejavu-core"
run
expect 0 "install-deps: installing: xvfb fonts-dejavu-core" "" \
    "DEBIAN_FRONTEND=noninteractive apt-get update -q
DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends xvfb fonts-dejavu-core"

row "root, nothing missing: apt-get not run"
given 0 absent ""
run --fuzz --package
expect 0 "" "" ""

row "root: a failing apt-get fails the run with its status"
given 0 absent "cmake"
FAKE_APT_STATUS=100
run
expect 100 "install-deps: installing: cmake" "" "*apt-get update -q
*apt-get install -y -q --no-install-recommends cmake"

row "normal user with sudo that needs no password: installs through sudo -n"
given 1000 ok "iproute2"
run
expect 0 "install-deps: installing: iproute2" "" "sudo -n true
sudo -n env DEBIAN_FRONTEND=noninteractive apt-get update -q
DEBIAN_FRONTEND=noninteractive apt-get update -q
sudo -n env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends iproute2
DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends iproute2"

row "no dpkg-query: says so instead of asking apt-get"
given 0 absent ""
rm "$bin/dpkg-query"
run
expect 1 "" "install-deps: no dpkg-query*" ""

row "unknown option: usage error before anything is looked up"
given 0 absent "cmake"
run --fuzz --fuz
expect 2 "" "install-deps: *--fuz*" ""

row "--help: every option on stdout"
given 1000 absent ""
run --help
expect 0 "*--sanitize*--fuzz*--cross*--package*--format*" "" ""

if [ $failures -gt 0 ]; then
    echo "tst_install_deps: $failures check(s) failed"
    exit 1
fi
echo "tst_install_deps: passed"
