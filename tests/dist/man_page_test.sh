#!/bin/sh
# The manual page keeps up with the command line: it has a section for exactly the subcommands
# `zorvjtag --help` lists, every option each of them takes, every global option, and an entry
# for every kind of cable the --cable help names.
# Usage: man_page_test.sh ZORVJTAG PAGE.scd
set -eu
program=$1
page=$2
status=0

# Long options of a help text's Options list (the first column, e.g. "-h,--help" gives --help).
long_options() {
  awk '/^[A-Za-z].*:$/ { inside = ($0 == "Options:"); next }
       inside && /^  +-/ { n = split($1, names, ","); for (i = 1; i <= n; i++) if (names[i] ~ /^--/) print names[i] }'
}
# The lines of one "# " or "## " heading's part of the page.
section() {
  awk -v heading="$1" '/^#/ { inside = ($0 == heading); next } inside' "$page"
}
expect_option() {  # SECTION-TEXT OPTION WHERE
  if ! printf '%s\n' "$1" | grep -qF -- "*$2*"; then
    echo "$3: option $2 is not in the page"
    status=1
  fi
}

commands=$("$program" --help | awk '/^Subcommands:$/ { inside = 1; next } inside && /^  [a-z]/ { print $1 }')
documented=$(awk '/^# / { inside = ($0 == "# SUBCOMMANDS") } inside && /^## / { print $2 }' "$page")
if [ "$(printf '%s\n' $commands | sort)" != "$(printf '%s\n' $documented | sort)" ]; then
  echo "subcommands: the command line has" $commands "but the page has" $documented
  status=1
fi

options=$(section "# OPTIONS")
for option in $("$program" --help | long_options); do
  [ "$option" = --help ] || expect_option "$options" "$option" "global"
done
for command in $commands; do
  text=$(section "## $command")
  for option in $("$program" "$command" --help | long_options); do
    [ "$option" = --help ] || expect_option "$text" "$option" "$command"
  done
done

# "lpt (default), ppdev[:/dev/parportN], remote:HOST:PORT or sim[:OPTIONS]" names lpt, ppdev,
# remote and sim.
cables=$(section "# CABLES")
for kind in $("$program" --help | sed -n 's/^  --cable [A-Z]* *//p' | sed 's/ (default)//; s/,/ /g; s/ or / /g' |
              tr ' ' '\n' | sed 's/[:[].*//' | grep .); do
  if ! printf '%s\n' "$cables" | grep -q "^\*$kind\*"; then
    echo "cables: $kind is not in the page"
    status=1
  fi
done
exit $status
