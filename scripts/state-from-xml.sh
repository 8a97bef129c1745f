#!/usr/bin/env bash
# Wraps a plug-in state written as XML (scripts/demo-state.xml, say) into the bytes the plug-in
# saves and loads: "VC2!", the text's length as a little-endian 32-bit number, the text, a zero
# byte. Usage: state-from-xml.sh IN.xml OUT.state
set -euo pipefail

if [ "$#" -ne 2 ]; then
  echo "usage: $0 IN.xml OUT.state" >&2
  exit 1
fi

length="$(wc -c < "$1")"
byte() { printf "\\$(printf '%03o' "$(( (length >> $1) & 255 ))")"; }
{ printf 'VC2!'; byte 0; byte 8; byte 16; byte 24; cat "$1"; printf '\0'; } > "$2"
