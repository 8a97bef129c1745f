#!/usr/bin/env bash
# Installs everything a fresh Debian 12 machine lacks to build and test the plug-in.
# Idempotent: a second run only checks what is already there.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
deps_dir="$root/.deps"
juce_dir="$deps_dir/juce"
juce_version="8.0.6"

sudo_cmd=""
if [ "$(id -u)" -ne 0 ]; then sudo_cmd="sudo"; fi

packages=(
  cmake g++ make pkg-config
  libfreetype-dev libfontconfig1-dev
  libx11-dev libxext-dev libxinerama-dev libxrandr-dev libxcursor-dev libxcomposite-dev libxrender-dev
  libasound2-dev libjpeg-dev libpng-dev zlib1g-dev
  libflac-dev libvorbis-dev libogg-dev
  fonts-dejavu-core
  xvfb xdotool x11-utils
  libgtest-dev libbenchmark-dev
  clang-14 libclang-rt-14-dev llvm-14
  ca-certificates ccache patch
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
# apt's own progress goes to a log; its errors and warnings still show, and a failure prints the
# log's end.
apt_log="$(mktemp)"
trap 'rm -f "$apt_log"' EXIT
quiet_apt() {
  if ! "$@" >"$apt_log"; then
    tail -n 30 "$apt_log" >&2
    echo "setup: '$*' failed" >&2
    exit 1
  fi
}

if [ "${#missing[@]}" -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  quiet_apt $sudo_cmd apt-get update -q
  quiet_apt $sudo_cmd env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
  echo "setup: installed $(grep -c '^Setting up ' "$apt_log" || true) packages (the ${#missing[@]} above and what they need)"
fi

# JUCE: use the machine's own install when it is the right version, otherwise
# fetch Debian's packages from the newer suite into a private folder.
installed_juce="$(dpkg-query -W -f='${Version}' juce-modules-source 2>/dev/null || true)"
if [ -f "$juce_dir/.complete" ]; then
  echo "setup: JUCE $juce_version already unpacked"
elif [[ "$installed_juce" == ${juce_version}* ]] && [ -d /usr/share/juce/modules ]; then
  # A private copy, so that the patch below never touches the system's files.
  rm -rf "$juce_dir"
  mkdir -p "$juce_dir/usr/share/juce" "$juce_dir/usr/lib/x86_64-linux-gnu/cmake"
  cp -a /usr/share/juce/modules "$juce_dir/usr/share/juce/"
  cp -a "/usr/lib/x86_64-linux-gnu/cmake/JUCE-$juce_version" "$juce_dir/usr/lib/x86_64-linux-gnu/cmake/"
  touch "$juce_dir/.complete"
  echo "setup: copied the installed juce-modules-source $installed_juce"
else
  # The mirror comes from the machine's own apt sources, so no host is named here.
  mirror=""
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    mirror="$(awk '/^URIs:/ { for (i = 2; i <= NF; i++) if ($i !~ /security/) { print $i; exit } }' "$f")"
    [ -n "$mirror" ] && break
  done
  if [ -z "$mirror" ] && [ -f /etc/apt/sources.list ]; then
    mirror="$(awk '$1 == "deb" && $0 !~ /security/ { for (i = 2; i <= NF; i++) if ($i ~ /:\/\//) { print $i; exit } }' /etc/apt/sources.list)"
  fi
  if [ -z "$mirror" ]; then
    echo "setup: no Debian mirror found in the apt sources" >&2
    exit 1
  fi

  apt_dir="$deps_dir/apt"
  rm -rf "$apt_dir" "$juce_dir"
  mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" "$apt_dir/sources.list.d" "$apt_dir/debs"
  keyring=/usr/share/keyrings/debian-archive-keyring.gpg
  echo "deb [signed-by=$keyring] $mirror trixie main" > "$apt_dir/sources.list"
  apt_opts=(
    -o "Dir::Etc::SourceList=$apt_dir/sources.list"
    -o "Dir::Etc::SourceParts=$apt_dir/sources.list.d"
    -o "Dir::State::Lists=$apt_dir/lists"
    -o "Dir::Cache=$apt_dir/cache"
    -o "Dir::State::status=/var/lib/dpkg/status"
    -o "APT::Get::List-Cleanup=0"
  )
  # As root apt would hand the download to its sandbox user, who cannot write this folder.
  if [ "$(id -u)" -eq 0 ]; then apt_opts+=(-o "APT::Sandbox::User=root"); fi
  echo "setup: fetching juce-modules-source $juce_version"
  quiet_apt apt-get "${apt_opts[@]}" update -q
  (cd "$apt_dir/debs" && apt-get "${apt_opts[@]}" download -q "juce-modules-source=${juce_version}*" "juce-modules-source-data=${juce_version}*" >"$apt_log" 2>&1) || {
    (cd "$apt_dir/debs" && quiet_apt apt-get "${apt_opts[@]}" download -q juce-modules-source juce-modules-source-data)
  }
  mkdir -p "$juce_dir"
  for deb in "$apt_dir"/debs/*.deb; do
    version="$(dpkg-deb -f "$deb" Version)"
    if [[ "$version" != ${juce_version}* ]]; then
      echo "setup: $(basename "$deb") is version $version, not $juce_version" >&2
      exit 1
    fi
    dpkg -x "$deb" "$juce_dir"
  done
  touch "$juce_dir/.complete"
fi

# JUCE's own faults that the plug-in meets are mended by patches kept beside the build settings.
# Each is applied once; one that neither applies nor is already in place stops the set-up.
modules_dir="$juce_dir/usr/share/juce/modules"
for patch_file in "$root"/juce-"$juce_version"-*.patch; do
  [ -f "$patch_file" ] || continue
  name="$(basename "$patch_file")"
  if patch -d "$modules_dir" -p1 -R --dry-run -s -f <"$patch_file" >/dev/null 2>&1; then
    continue
  fi
  if ! patch -d "$modules_dir" -p1 -N --dry-run -s -f <"$patch_file" >"$apt_log" 2>&1; then
    cat "$apt_log" >&2
    echo "setup: $name does not apply to the JUCE sources in $modules_dir;" \
         "remove $juce_dir and run the set-up again" >&2
    exit 1
  fi
  patch -d "$modules_dir" -p1 -N -s -f <"$patch_file"
  echo "setup: applied $name"
done
# The build must not go ahead on unpatched sources: the patched code carries this marker.
if ! grep -q "struct PrivateStateReader" "$modules_dir/juce_audio_plugin_client/juce_audio_plugin_client_VST3.cpp"; then
  echo "setup: JUCE's VST3 client is not patched (juce-$juce_version-vst3-state.patch)" >&2
  exit 1
fi

test -f "$juce_dir/usr/lib/x86_64-linux-gnu/cmake/JUCE-$juce_version/JUCEUtils.cmake"
test -d "$juce_dir/usr/share/juce/modules/juce_audio_processors"
echo "setup: ready"
