#!/bin/sh
# openFPGALoader's XVC client must read each product's IDCODE from a board served by
# sim-serve --protocol xvc; the server then ends promptly on SIGTERM.
# Usage: xvc_openfpgaloader_test.sh ZORVJTAG OPENFPGALOADER
set -u
zorvjtag=$1
loader=$2
work=$(mktemp -d)
server=
cleanup() {
  [ -n "$server" ] && kill "$server" 2>/dev/null && wait "$server" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

for case in OBRIN:0x00aecadd TQR2400:0x100015b9 IKA:0x100015b9 VESKAR:0x0022b5e1; do
  product=${case%%:*}
  idcode=${case#*:}
  "$zorvjtag" sim-serve --protocol xvc --xvc-max-bytes 2048 --port 0 "chip=$product" >"$work/serve-$product.out" 2>&1 &
  server=$!
  port=
  for _ in $(seq 50); do
    port=$(sed -n 's/.*127\.0\.0\.1:\([0-9][0-9]*\).*/\1/p' "$work/serve-$product.out")
    [ -n "$port" ] && break
    sleep 0.1
  done
  if [ -z "$port" ]; then
    echo "sim-serve did not start:"; cat "$work/serve-$product.out"; exit 1
  fi
  # These chips are unknown to openFPGALoader: it names the IDCODE it read and gives up.
  timeout 20 "$loader" -c xvc-client --ip 127.0.0.1 --port "$port" --detect >"$work/loader.out" 2>&1
  cat "$work/loader.out"
  grep -q "Unknown device with IDCODE: $idcode" "$work/loader.out" || { echo "$product: IDCODE $idcode not read"; exit 1; }
  kill -0 "$server" || { echo "sim-serve ended with the connection"; exit 1; }
  kill -TERM "$server"
  for _ in $(seq 10); do
    kill -0 "$server" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$server" 2>/dev/null; then
    echo "sim-serve still runs a second after SIGTERM"; exit 1
  fi
  wait "$server"
  status=$?
  server=
  [ $status -eq 0 ] || { echo "sim-serve exited with $status"; exit 1; }
done
echo "identified"
