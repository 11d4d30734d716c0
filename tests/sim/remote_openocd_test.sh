#!/bin/sh
# OpenOCD's own remote_bitbang driver must find and identify a TQR2400 board served by sim-serve.
# Usage: remote_openocd_test.sh ZORVJTAG OPENOCD
set -u
zorvjtag=$1
openocd=$2
work=$(mktemp -d)
server=
cleanup() {
  [ -n "$server" ] && kill "$server" 2>/dev/null && wait "$server" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

"$zorvjtag" sim-serve --port 0 chip=TQR2400 >"$work/serve.out" 2>&1 &
server=$!
port=
for _ in $(seq 50); do
  port=$(sed -n 's/.*127\.0\.0\.1:\([0-9][0-9]*\).*/\1/p' "$work/serve.out")
  [ -n "$port" ] && break
  sleep 0.1
done
if [ -z "$port" ]; then
  echo "sim-serve did not start:"; cat "$work/serve.out"; exit 1
fi

timeout 20 "$openocd" -c "adapter driver remote_bitbang; remote_bitbang port $port; remote_bitbang host localhost; transport select jtag; jtag newtap chip tap -irlen 4 -expected-id 0x100015b9; init; shutdown" >"$work/openocd.out" 2>&1
status=$?
cat "$work/openocd.out"
if [ $status -ne 0 ]; then
  echo "openocd exited with $status"; exit 1
fi
grep -q "tap/device found: 0x100015b9" "$work/openocd.out" || { echo "the board was not identified"; exit 1; }
if grep -qi "UNEXPECTED\|IR capture error\|error" "$work/openocd.out"; then
  echo "openocd reported a problem"; exit 1
fi
# The server is still serving after OpenOCD hung up.
kill -0 "$server" || { echo "sim-serve ended with the connection"; exit 1; }
echo "identified"
