#!/usr/bin/env bash
# Runs the Windows build (scripts/build-windows.sh) under wine64, headless: the core and
# command-line tests, then a whole NAND download on the virtual board through zorvjtag.exe.
set -euo pipefail
cd "$(dirname "$0")/.."
export WINEDEBUG=-all WINEPREFIX="$PWD/build-windows/wineprefix" WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY=
unset WAYLAND_DISPLAY
# The first start makes the prefix, which takes a while; later ones reuse it.
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  start=$(date +%s)
  wine wineboot --init > /dev/null 2>&1 || true
  echo "wine: prefix made in $(( $(date +%s) - start )) s"
fi

# Left out by name, each for what Windows cannot give it:
excluded=(
  # raises SIGTERM at itself: Windows delivers no SIGTERM (its console events are tested through
  # the command line instead)
  ConsolePage.StopSignalRequestsTheStopAndMeans130
  # stop the program with a console Ctrl-Break: wine delivers no console events to a child whose
  # output is a pipe, so the test would wait for the job's natural end
  NandCommand.ASignalInTheProgramPassStopsTheJob
  ReadCommands.InterruptedReadExitsWith130AndLeavesNoFile
  ExtraCommands.ToggleRunsUntilTerminatedThenStopsCleanly
  # play USB adapters with umockdev to libftdi1, libusb and hidapi, none of which is part of the
  # Windows build
  FtdiUsbSmoke.ScriptedFt2232hAnswersAndVanishes
  CmsisDapUsbSmoke.ScriptedProbesAnswerAndVanish
  FtdiUsbSmoke.ChannelTheChipLacksIsRefusedByTheChipsName
)
filter="-$(IFS=:; echo "${excluded[*]}")"
cd build-windows/bin
# Slow rather than stuck when the machine is busy: under wine a loopback round trip costs about
# 0.6 ms, and 5 ms or more beside a build, so the NOR write over remote_bitbang (some 4200 round
# trips) takes from 4 s to half a minute.
timeout 900 wine zorv_tests.exe --gtest_filter="$filter" 2>&1 | tee test-windows.log | grep -E '^\[  (PASSED|FAILED) |^\[==========\]|FAILED'
grep -q '^\[  PASSED  \]' test-windows.log && ! grep -q '^\[  FAILED  \]' test-windows.log

# A whole download through the command line, as a user runs it. Its last word is the message box,
# on standard error (shown through a copy: tee /dev/stderr would reopen, and so cut, a log file
# that standard error is redirected to).
head -c $((128 * 2048)) /dev/urandom > sample.bin
download_completes() {  # NAME PROGRAM CABLE
  local status=0
  timeout 600 wine "$2" --cable "$3" nand --product OBRIN --verify sample.bin 2> "$1.err" | tee "$1.log" |
    tail -n 3 || status=$?
  tr -d '\r' < "$1.err" > "$1.txt"
  cat "$1.txt" >&2
  [ "$status" = 0 ] && tail -n 1 "$1.txt" | grep -qx 'Download Complete.'
}
download_completes download zorvjtag.exe sim

# The same download through --cable lpt, the port played by a stand-in for InpOut32's DLL on the
# virtual board; the DLL sits beside a copy of the program, never beside the one that is packaged.
rm -rf lpt-test && mkdir lpt-test
cp zorvjtag.exe ../inpout-standin/inpoutx64.dll lpt-test/
download_completes lpt-download lpt-test/zorvjtag.exe lpt

# Without the DLL, or with it but without its driver, the job cannot start and says why.
lpt_refused() {
  if timeout 60 wine "$1" --cable lpt nand --product OBRIN sample.bin > /dev/null 2> lpt-refused.err; then
    echo "lpt: $1 ran without a usable inpoutx64.dll"
    return 1
  fi
  tr -d '\r' < lpt-refused.err > lpt-refused.txt
  grep -qx "Couldn't access giveio device" lpt-refused.txt && grep -q 'inpoutx64\.dll' lpt-refused.txt
}
lpt_refused zorvjtag.exe
ZORV_STANDIN_NO_DRIVER=1 lpt_refused lpt-test/zorvjtag.exe
echo "lpt: refused without inpoutx64.dll and without its driver"

# A CMSIS-DAP probe needs libusb, which the Windows build has not: the cable is named and refused
# with its reason; its model on the virtual board still reads the chip's ID.
dap_refused=$(timeout 60 wine zorvjtag.exe --cable cmsis-dap idcode --product OBRIN 2>&1 > /dev/null | tr -d '\r' || true)
[[ "$dap_refused" == *"CMSIS-DAP probes are not supported by this Windows build"* ]] ||
  { echo "cmsis-dap: $dap_refused"; exit 1; }
dap_sim=$(timeout 60 wine zorvjtag.exe --cable cmsis-dap:sim idcode --product OBRIN | tr -d '\r')
[[ "$dap_sim" == *"JTAG ID: Ver(0x0), Part(0x00AE), Maker(0xCAD)"* ]] || { echo "cmsis-dap:sim: $dap_sim"; exit 1; }
echo "cmsis-dap: refused without libusb; its model reads the chip's ID"
