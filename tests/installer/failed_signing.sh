#!/usr/bin/env bash
# failed_signing.sh CMAKE SOURCE SCRATCH PKCS12 PASSWORD_FILE FILE...
# A scratch build tree of SOURCE says that its files are unsigned; with a
# wrong password, or a timestamp server out of reach, signing a copy of each
# FILE fails and takes the copy away, leaving no unsigned file to a later build.
set -u
cmake=$1 source=$2 scratch=$3 pkcs12=$4 password=$5
shift 5
fail() { echo "FAILED: $*"; exit 1; }
unset LUMO2_SIGN_PKCS12 LUMO2_SIGN_PASSWORD_FILE LUMO2_SIGN_TIMESTAMP_URL LUMO2_SIGN_TSA_CERTS LUMO2_SIGN_TSA_KEY
rm -rf "$scratch" && mkdir -p "$scratch" && echo "not the password" >"$scratch/wrong-password"
configure() { "$cmake" -S "$source" -B "$scratch/build" -DCMAKE_TOOLCHAIN_FILE="$source/cmake/i686-mingw32.cmake" "$@" 2>&1; }

grep -q 'the files are unsigned' <<<"$(configure)" || fail "configuring without a certificate says nothing"
for wrong in "-DLUMO2_SIGN_PASSWORD_FILE=$scratch/wrong-password" \
             "-DLUMO2_SIGN_PASSWORD_FILE=$password -DLUMO2_SIGN_TIMESTAMP_URL=http://127.0.0.1:9"; do
    configure -DLUMO2_SIGN_PKCS12="$pkcs12" $wrong >/dev/null || fail "configuring with $wrong"
    for file in "$@"; do
        copy=$scratch/$(basename "$file")
        cp "$file" "$copy"
        "$cmake" -P "$scratch/build/sign_file.cmake" "$copy" >/dev/null 2>&1 && fail "$wrong: $copy signed"
        [ -e "$copy" ] && fail "$wrong: the unsigned $copy is left"
    done
done
rm -rf "$scratch" && echo "a failed signing leaves nothing unsigned"
