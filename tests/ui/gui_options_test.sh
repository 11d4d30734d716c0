#!/bin/sh
# The window's command line: a wrong option (or --chain text) is a usage error (exit 2), and without --cable the
# cable last chosen in the window is the one used (seen through --tck, which only xvc takes).
# Usage: gui_options_test.sh ZORVJTAG-GUI
set -u
gui=$1
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
exit $status
