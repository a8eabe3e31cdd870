#!/usr/bin/env bash
# Makes a throw-away code-signing set in folder $1 for test builds: a root CA
# (ca.pem), a code-signing certificate issued by it as a PKCS#12 file
# (codesign.p12, password in password.txt) and a timestamp authority
# (tsa-chain.pem, tsa.key) so that signing needs no network. Nothing here
# is trusted anywhere but in the tests. Does nothing when the set is there.
set -euo pipefail

dir=${1:?usage: make-test-cert.sh FOLDER}
[ -s "$dir/codesign.p12" ] && [ -s "$dir/tsa-chain.pem" ] && exit 0
mkdir -p "$dir"
cd "$dir"
subject="/O=Lumo2 test signing (not trusted)"
days=3650

# The extensions each certificate needs; a verifier rejects a code signature
# or timestamp made with a certificate that lacks its extended key usage.
cat >extensions.cnf <<'EOF'
[req]
distinguished_name = dn
[dn]
[ca]
basicConstraints = critical, CA:true
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[codesign]
basicConstraints = CA:false
keyUsage = critical, digitalSignature
extendedKeyUsage = codeSigning
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[tsa]
basicConstraints = CA:false
keyUsage = critical, digitalSignature
extendedKeyUsage = critical, timeStamping
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
EOF

openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days $days \
    -subj "$subject/CN=Lumo2 Test Root CA" -config extensions.cnf -extensions ca 2>/dev/null

# Issues certificate $1 (extensions section $1) with common name $2.
issue() {
    openssl req -newkey rsa:2048 -nodes -keyout "$1.key" -out "$1.csr" -subj "$subject/CN=$2" 2>/dev/null
    openssl x509 -req -in "$1.csr" -CA ca.pem -CAkey ca.key -CAcreateserial -days $days \
        -extfile extensions.cnf -extensions "$1" -out "$1.pem" 2>/dev/null
    rm -f "$1.csr"
}
issue codesign "Kestrova (test)"
issue tsa "Lumo2 Test Timestamps"

head -c 18 /dev/urandom | base64 >password.txt
openssl pkcs12 -export -inkey codesign.key -in codesign.pem -certfile ca.pem \
    -passout file:password.txt -out codesign.p12
cat tsa.pem ca.pem >tsa-chain.pem
rm -f codesign.key ca.srl
chmod 600 ca.key tsa.key password.txt codesign.p12
