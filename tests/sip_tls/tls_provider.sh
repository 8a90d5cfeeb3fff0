#!/bin/bash
# The provider over TLS for the SIP tests: Kamailio (tests/sip_relay/provider.cfg)
# with a test CA and server certificates made here by openssl.
#
#   tls_provider.sh DIR PORT GATEWAY NUMBER:PASSWORD...
#
# makes in DIR the CA a client trusts (DIR/ca.pem, for tls_ca_file or
# baresip's sip_cafile), the subscribers' credentials, and then runs as
# Kamailio in the foreground (stop it with SIGTERM) with SIP over UDP on
# 127.0.0.1:PORT and over TLS on
#   PORT    a good certificate, for 127.0.0.1 and localhost
#   PORT+1  one for another host (other.example)
#   PORT+2  an expired one (2024-01-01 to 2025-01-01)
#   PORT+3  one from another CA
# Calls to numbers not registered go to 127.0.0.1:GATEWAY, as in provider.cfg.
set -euo pipefail
dir="$1" port="$2" gateway="$3"
shift 3
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
mkdir -p "$dir/db"

# A CA named $1, with what `openssl ca` keeps of it.
make_ca() {
  openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 3650 \
    -subj "/CN=Tellmaro test CA $1" -keyout "$dir/$1.key" -out "$dir/$1.pem" 2>/dev/null
  : >"$dir/$1.index"
  echo 01 >"$dir/$1.serial"
  printf '%s\n' "[ca]" "default_ca = this" "[this]" "database = $dir/$1.index" \
    "new_certs_dir = $dir" "serial = $dir/$1.serial" "default_md = sha256" "policy = any" \
    "unique_subject = no" "[any]" "commonName = supplied" >"$dir/$1.cnf"
}
# A server certificate $1 from CA $2 for the names $3, valid from $4 to $5.
issue() {
  openssl req -new -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes \
    -subj "/CN=$(cut -d, -f1 <<<"$3" | cut -d: -f2)" -keyout "$dir/$1.key" -out "$dir/$1.csr" 2>/dev/null
  printf 'subjectAltName = %s\n' "$3" >"$dir/$1.ext"
  openssl ca -batch -notext -config "$dir/$2.cnf" -cert "$dir/$2.pem" -keyfile "$dir/$2.key" \
    -in "$dir/$1.csr" -out "$dir/$1.pem" -startdate "$4" -enddate "$5" \
    -extfile "$dir/$1.ext" 2>/dev/null
}
from="$(date -u -d '-1 day' +%Y%m%d%H%M%SZ)" until="$(date -u -d '+30 days' +%Y%m%d%H%M%SZ)"
make_ca ca
make_ca other-ca
issue good ca "IP:127.0.0.1,DNS:localhost" "$from" "$until"
issue other-host ca "DNS:other.example" "$from" "$until"
issue expired ca "IP:127.0.0.1,DNS:localhost" 20240101000000Z 20250101000000Z
issue foreign other-ca "IP:127.0.0.1,DNS:localhost" "$from" "$until"

offset=0
for name in good other-host expired foreign; do
  [ $offset = 0 ] && profile=default || profile="127.0.0.1:$((port + offset))"
  printf '[server:%s]\ncertificate = %s\nprivate_key = %s\n' "$profile" "$dir/$name.pem" \
    "$dir/$name.key"
  offset=$((offset + 1))
done >"$dir/tls.cfg"
printf '[client:default]\nverify_certificate = no\n' >>"$dir/tls.cfg"

printf 'table_name(str) table_version(int)\nsubscriber:7\nlocation:9\n' >"$dir/db/version"
echo "id(int,auto) username(str) domain(str) password(str)" >"$dir/db/subscriber"
id=0
for user in "$@"; do
  echo "$((++id)):${user%%:*}:127.0.0.1:${user#*:}" >>"$dir/db/subscriber"
done

tls="enable_tls=yes\\nloadmodule \"tls.so\"\\nmodparam(\"tls\", \"config\", \"$dir/tls.cfg\")"
for offset in 0 1 2 3; do tls+="\\nlisten=tls:127.0.0.1:$((port + offset))"; done
sed -e "s|^disable_tcp=yes|$tls|" -e "s|@PORT@|$port|g" -e "s|@DB@|$dir/db|g" \
  -e "s|@GATEWAY@|$gateway|g" "$here/../sip_relay/provider.cfg" >"$dir/kamailio.cfg"
exec /usr/sbin/kamailio -DD -E -f "$dir/kamailio.cfg" -Y "$dir" -P "$dir/kamailio.pid" -m 16 -M 4
