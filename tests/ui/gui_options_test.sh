#!/bin/sh
# The window's command line: a wrong option (or --chain text) is a usage error (exit 2), and without --cable the
# cable last chosen in the window is the one used (seen through --tck, which only xvc takes); a --board file
# that cannot be read is a usage error too, and the board file last chosen is read at the next start.
# Usage: gui_options_test.sh ZORVJTAG-GUI TEST-BOARDS-DIR
set -u
gui=$1
boards=$2
config=$(mktemp -d)
trap 'rm -rf "$config"' EXIT
export QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME="$config"
status=0

"$gui" --no-such-option 2>/dev/null
[ $? -eq 2 ] || { echo "an unknown option does not exit 2"; status=1; }

mkdir -p "$config/zorvjtag"
printf '[General]\ncable=sim\n' > "$config/zorvjtag/zorvjtag-gui.conf"
out=$("$gui" --tck 1000 2>&1)
case $out in
  *"the cable 'sim' has no TCK setting"*) ;;
  *) echo "the remembered cable is not used: $out"; status=1 ;;
esac
out=$("$gui" --cable lpt --tck 1000 2>&1)
case $out in
  *"the cable 'lpt' has no TCK setting"*) ;;
  *) echo "--cable does not override the remembered cable: $out"; status=1 ;;
esac
"$gui" --chain 1,target 2>/dev/null
[ $? -eq 2 ] || { echo "a --chain that cannot be taken does not exit 2"; status=1; }
out=$("$gui" --board "$config/none.toml" 2>&1)
[ $? -eq 2 ] || { echo "a --board file that cannot be read does not exit 2"; status=1; }
case $out in
  *"--board: $config/none.toml: cannot be read"*) ;;
  *) echo "a --board file that cannot be read is not named: $out"; status=1 ;;
esac
printf '[General]\nboard=%s/kestrel9.toml\n' "$boards" > "$config/zorvjtag/zorvjtag-gui.conf"
out=$("$gui" --chain 8,target 2>&1)
case $out in
  *"--chain: the board file $boards/kestrel9.toml gives the chain"*) ;;
  *) echo "the remembered board file is not read: $out"; status=1 ;;
esac
exit $status
