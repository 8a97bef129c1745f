#!/usr/bin/env bash
# The main job: sets up the machine, builds and installs the plug-in into ~/.vst3,
# then loads it in the project's own VST3 host and renders a short demo through it.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
bash scripts/setup.sh

cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j "$(nproc)" --target ZandorPellum_VST3 zandor-host
cmake --install build >/dev/null

bundle="$HOME/.vst3/Zandor Pellum.vst3"
host="build/host/zandor-host"
mkdir -p out
echo "installed: $bundle"
"$host" info "$bundle"
"$host" render "$bundle" --seconds 4 --tempo 120 --playing \
  --set drive=60 --set mode=1 --set filterCutoff=4000 \
  --out out/demo.wav
echo "demo written to out/demo.wav"
