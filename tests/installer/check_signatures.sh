#!/usr/bin/env bash
# check_signatures.sh OSSLSIGNCODE CAFILE TIMESTAMPED(0|1) SETUP FILE...
# Every file the build signed must verify against CAFILE, with a verified
# timestamp when the build makes one; so must the uninstaller that the setup
# program writes, which exists only once it has run. Runs in the test bed's
# Wine prefix (WINEPREFIX), like the other tests.
set -uo pipefail

osslsigncode=$1 cafile=$2 timestamped=$3 setup=$4
shift 4
failures=0

check() {
    local output
    output=$("$osslsigncode" verify -CAfile "$cafile" -TSA-CAfile "$cafile" -in "$1" 2>&1)
    if [ $? -ne 0 ] || ! grep -q '^Signature verification: ok' <<<"$output"; then
        echo "NOT SIGNED: $1"
        grep -iE 'error|fail|no signature' <<<"$output" | head -3
        failures=$((failures + 1))
    elif [ "$timestamped" = 1 ] && ! grep -q '^Timestamp Server Signature verification: ok' <<<"$output"; then
        echo "NO TIMESTAMP: $1"
        failures=$((failures + 1))
    else
        echo "signed: $1"
    fi
}

for file in "$setup" "$@"; do
    check "$file"
done

# Without spaces: /D= must not be quoted.
folder='C:\lumo2-signature-check'
unix_folder=$(winepath -u "$folder" 2>/dev/null)
rm -rf "$unix_folder"
if wine "$setup" /S /NORUN /NOAUTOSTART "/D=$folder" </dev/null >/dev/null 2>&1; then
    check "$unix_folder/Uninstall.exe"
    check "$unix_folder/Lumo2.exe"
    wine "$folder\\Uninstall.exe" /S "_?=$folder" </dev/null >/dev/null 2>&1 ||
        echo "the uninstaller failed"
else
    echo "the setup program failed"
    failures=$((failures + 1))
fi
rm -rf "$unix_folder"

[ $failures -eq 0 ] && echo "every file is signed" && exit 0
exit 1
