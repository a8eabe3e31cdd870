#!/usr/bin/env bash
# failed_signing.sh CMAKE SOURCE SCRATCH PKCS12 PASSWORD_FILE FILE...
# A scratch build tree configured from SOURCE: without a certificate it must
# say that the files are unsigned; with a wrong password, or a timestamp
# server that cannot be reached, signing must fail and take the unsigned
# file away, so that no later build ships it as done. The build's own
# Lumo2.exe step is tried for real, twice; each shipped FILE is signed as a
# copy.
set -uo pipefail

cmake=$1 source=$2 scratch=$3 pkcs12=$4 password=$5
shift 5
failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }

rm -rf "$scratch"
mkdir -p "$scratch"
unset LUMO2_SIGN_PKCS12 LUMO2_SIGN_PASSWORD_FILE LUMO2_SIGN_TIMESTAMP_URL \
      LUMO2_SIGN_TSA_CERTS LUMO2_SIGN_TSA_KEY LUMO2_SIGN_CAFILE
configure() {
    "$cmake" -S "$source" -B "$scratch/build" -DCMAKE_TOOLCHAIN_FILE="$source/cmake/i686-mingw32.cmake" "$@" 2>&1
}

grep -q 'the files are unsigned' <<<"$(configure)" || fail "configuring without a certificate says nothing"

echo "not the password" >"$scratch/wrong-password"
# Signs a copy of each file named with the scratch build's script; $why
# says what was made wrong.
try_signing() {
    for file in "$@"; do
        local copy
        copy="$scratch/$(basename "$file")"
        cp "$file" "$copy"
        if "$cmake" -P "$scratch/build/sign_file.cmake" "$copy" >/dev/null 2>&1; then
            fail "$why: signing $(basename "$file") succeeded"
        fi
        [ -e "$copy" ] && fail "$why: the unsigned $(basename "$file") is left"
        [ -e "$copy.signed" ] && fail "$why: $(basename "$file").signed is left"
    done
}

why="wrong password"
configure -DLUMO2_SIGN_PKCS12="$pkcs12" -DLUMO2_SIGN_PASSWORD_FILE="$scratch/wrong-password" >/dev/null
try_signing "$@"
# A second build must not find an unsigned Lumo2.exe to call done.
for attempt in 1 2; do
    if "$cmake" --build "$scratch/build" --target Lumo2 -j 2 >"$scratch/build-$attempt.log" 2>&1; then
        fail "$why: build $attempt of Lumo2.exe succeeded"
    fi
    [ -e "$scratch/build/bin/Lumo2.exe" ] && fail "$why: build $attempt left an unsigned Lumo2.exe"
done

why="timestamp server unreachable"
configure -DLUMO2_SIGN_PASSWORD_FILE="$password" -DLUMO2_SIGN_TSA_CERTS= -DLUMO2_SIGN_TSA_KEY= \
          -DLUMO2_SIGN_TIMESTAMP_URL=http://127.0.0.1:9 >/dev/null
try_signing "$@"

[ $failures -eq 0 ] && rm -rf "$scratch" && echo "a failed signing leaves nothing unsigned" && exit 0
exit 1
