#!/bin/sh
# Makes a throw-away 1024-bit RSA key for the numeric_rsa example: DIR/key.pem (the virtual
# terminal's `pubkey` takes its public half) and DIR/key.txt, the key's fields as
# "name hex" lines, which the examples read into an RsaPrivateKey. A real application
# loads its key from its own key store; never use a key made like this one.
#
#   make-test-key.sh [DIR]
set -eu
dir=${1:-.}
openssl genrsa -out "$dir/key.pem" 1024 2>/dev/null
openssl rsa -in "$dir/key.pem" -text -noout | awk '
  /^modulus:/ { name = "modulus"; next }
  /^publicExponent:/ { printf "publicExponent %06x\n", $2; name = ""; next }
  /^privateExponent:/ { name = "privateExponent"; next }
  /^prime1:/ { name = "prime1"; next }
  /^prime2:/ { name = "prime2"; next }
  /^exponent1:/ { name = "exponent1"; next }
  /^exponent2:/ { name = "exponent2"; next }
  /^coefficient:/ { name = "coefficient"; next }
  /^ / && name != "" { gsub(/[ :]/, ""); hex[name] = hex[name] $0; next }
  { name = "" }
  END {
    split("modulus privateExponent prime1 prime2 exponent1 exponent2 coefficient", names, " ")
    for (i = 1; i <= 7; i++) print names[i], hex[names[i]]
  }' >"$dir/key.txt"
chmod 600 "$dir/key.pem" "$dir/key.txt"
