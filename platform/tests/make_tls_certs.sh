#!/bin/sh
# Makes the certificates the TLS tests use, in folder $1: two servers
# (alpha.test, beta.test, EC P-256), beta also as one file with the key
# after the chain, an RSA 2048 one as .pfx, and an expired certificate.
# Nothing here is kept in the repository: keys are made fresh each time.
set -e
dir=$1
mkdir -p "$dir"
cd "$dir"
ec() { openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout "$1.key" -out "$1.pem" \
         -days 3650 -subj "/CN=$2" -addext "subjectAltName=DNS:$2" 2>/dev/null; }
ec alpha alpha.test
ec beta beta.test
cat beta.pem beta.key > beta-combined.pem
openssl req -new -key alpha.key -subj /CN=old.test -out old.csr 2>/dev/null
openssl x509 -req -in old.csr -signkey alpha.key -days -1 -out old.pem 2>/dev/null
openssl req -x509 -newkey rsa:2048 -nodes -keyout gamma.key -out gamma.pem -days 3650 -subj /CN=gamma.test 2>/dev/null
openssl pkcs12 -export -in gamma.pem -inkey gamma.key -out gamma.pfx -passout pass: -keypbe PBE-SHA1-3DES -certpbe PBE-SHA1-3DES -macalg sha1 2>/dev/null
echo made > done
