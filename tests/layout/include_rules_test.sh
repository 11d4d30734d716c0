#!/bin/sh
# Each folder of src/ includes only from the layers below it, as the README's Layout section
# states and CMake's libraries link. Usage: include_rules_test.sh SRC_DIR
set -eu
src=$1

# folder: the folders its files may include from (besides its own and the generated version header)
allowed() {
  case $1 in
    text) echo "" ;;
    bsdl) echo "text" ;;
    cable) echo "text" ;;
    link) echo "text cable" ;;
    cmsis_dap) echo "text link" ;;
    targets) echo "text cable link bsdl" ;;
    chain) echo "text bsdl cable link targets" ;;
    board) echo "text bsdl cable link targets chain" ;;
    page) echo "text bsdl cable link targets chain" ;;
    nand | nor | extra) echo "text bsdl cable link targets chain page" ;;
    readback) echo "text bsdl cable link targets chain page nand nor" ;;
    sim) echo "text bsdl cable/port_io.h cable/socket_io.h targets/target_product.h" ;;
    cable_choice) echo "text cable link sim cmsis_dap" ;;
    cli) echo "text bsdl cable link targets chain board page nand nor extra readback cable_choice" ;;
    ui) echo "text bsdl cable link targets chain board page nand nor extra readback cable_choice" ;;
    *) echo "UNKNOWN" ;;
  esac
}

status=0
for dir in "$src"/*/; do
  folder=$(basename "$dir")
  rules=$(allowed "$folder")
  if [ "$rules" = UNKNOWN ]; then
    echo "src/$folder has no layer: add it to this test, the README's Layout section and CMake"
    status=1
    continue
  fi
  # Every '#include "a/b.h"' of the folder, as "file header".
  for line in $(grep -o '#include "[^"]*"' "$dir"*.h "$dir"*.cpp 2>/dev/null | sed 's/:#include "/|/; s/"$//'); do
    file=${line%%|*}
    header=${line#*|}
    case $header in
      */*) ;;
      *) continue ;;  # the generated version header
    esac
    top=${header%%/*}
    [ "$top" = "$folder" ] && continue
    ok=0
    for rule in $rules; do
      if [ "$rule" = "$top" ] || [ "$rule" = "$header" ]; then ok=1; fi
    done
    if [ $ok = 0 ]; then
      echo "${file#"$src"/} includes $header, outside its layer"
      status=1
    fi
  done
done
exit $status
