#!/usr/bin/env bash
# The main job: sets up the machine, builds and installs the plug-in into ~/.vst3, then loads it
# in the project's own VST3 host, renders a short demo through it with a glitch pattern playing,
# and takes a picture of its editor.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
bash scripts/setup.sh

# The compiler's progress goes to a log; only a failure shows its end.
mkdir -p build
log="build/demo-build.log"
echo "building the plug-in and its host (a few minutes the first time; compiler output in $log)"
if ! { cmake -S . -B build -DCMAKE_BUILD_TYPE=Release --log-level=NOTICE \
         && cmake --build build -j "$(nproc)" --target ZandorPellum_VST3 zandor-host \
         && cmake --install build; } >"$log" 2>&1; then
  tail -n 40 "$log" >&2
  echo "demo: the build failed; the last lines of $log are above" >&2
  exit 1
fi

bundle="$HOME/.vst3/Zandor Pellum.vst3"
host="build/host/zandor-host"
mkdir -p out
echo "installed: $bundle"

# What a host sees of the plug-in: all of it in a file, the gist here.
"$host" info "$bundle" >out/info.txt
grep -E '^(plug-in|input bus 0|output bus 0|layout (mono/mono|stereo/stereo)|latency|parameters):' out/info.txt

# The demo's project (settings and glitch pattern) is a readable XML file; the plug-in gets it
# as the bytes a DAW hands it when it opens a project.
bash scripts/state-from-xml.sh scripts/demo-state.xml build/demo.state
echo
echo "rendering 4 s (two bars at 120 bpm, the transport playing) through the project in scripts/demo-state.xml"
"$host" render "$bundle" --seconds 4 --tempo 120 --playing --load-state build/demo.state \
    --save-state out/demo-state.bin --out out/demo.wav \
  | { grep -E '^(state handed|output channel|written|state saved)' || true; }

# A picture of the editor, opened in a real window as a DAW would (Xvfb when no display is set).
# The slow transport keeps the playhead inside the GATE block while the picture is taken.
source scripts/display.sh
ensure_display
echo
echo "opening the editor with the saved state"
"$host" editor "$bundle" --seconds 2 --load-state out/demo-state.bin --tempo 1 --ppq 3.5 --screenshot out/editor.png \
  | { grep -E '^(state handed|screenshot)' || true; }

cat <<EOF

Done. The plug-in is installed as
  $bundle
where Linux DAWs look for VST3 plug-ins. In your DAW (Reaper, Bitwig Studio, Ardour, ...) rescan
the VST3 plug-ins (or restart it), then put "Zandor Pellum" on a stereo track.

Written:
  out/demo.wav        4 s of a 220 Hz tone through SOFT CLIP (drive 60), a 4 kHz lowpass and the
                      glitch sequencer: STUTTER, TAPE STOP, CRUSH, REVERSE and GATE in turn, twice
  out/demo-state.bin  the plug-in's state saved after the render (settings and pattern), as a DAW
                      keeps it in a project
  out/editor.png      the editor showing that pattern, the playhead in the GATE block, GATE lit
  out/info.txt        everything a host sees of the plug-in: classes, buses, parameters

Next: README.md, "The project host", shows what $host can do, for example
  $host render "$bundle" --load-state out/demo-state.bin --out out/again.wav
EOF
