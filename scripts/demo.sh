#!/usr/bin/env bash
# The main job: sets up the machine, builds and installs the plug-in into ~/.vst3,
# then loads it in the project's own VST3 host and renders a short demo through it.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
bash scripts/setup.sh

cmake -S . -B build -DCMAKE_BUILD_TYPE=Release --log-level=NOTICE >/dev/null
cmake --build build -j "$(nproc)" --target ZandorPellum_VST3 zandor-host
cmake --install build >/dev/null

bundle="$HOME/.vst3/Zandor Pellum.vst3"
host="build/host/zandor-host"
mkdir -p out
echo "installed: $bundle"
"$host" info "$bundle"
"$host" render "$bundle" --seconds 4 --tempo 120 --playing \
  --set drive=60 --set mode=SOFT\ CLIP --set filterCutoff=4000 --set glitchOn=1 \
  --save-state out/demo-state.bin --out out/demo.wav
echo "demo written to out/demo.wav (its settings in out/demo-state.bin)"

# A picture of the editor, opened in a real window as a DAW would (Xvfb when no display is set).
source scripts/display.sh
ensure_display
"$host" editor "$bundle" --seconds 2 --set drive=60 --set glitchOn=1 --screenshot out/editor.png
echo "editor picture written to out/editor.png"
