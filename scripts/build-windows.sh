#!/usr/bin/env bash
# Cross-builds the Windows programs into build-windows/ from a clean checkout: installs the
# packages of scripts/packages-windows.txt that are missing, fetches the pinned Debian source
# packages of scripts/sources-windows.txt with apt's source mechanism (private apt state under
# build-windows/apt, deb-src entries derived from the machine's Debian sources), builds them as
# static libraries into build-windows/deps, then builds nova31.exe, gltf2blob.exe,
# nova31-shot.exe and the Windows unit tests with cmake/mingw-w64-x86_64.cmake, and the Linux
# build's demo program tests (in build/), which drive nova31.exe under Wine from outside.
# Every step that is already done is skipped.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
out="$root/build-windows"
jobs=$(nproc)
mkdir -p "$out"

"$root/scripts/setup.sh"
"$root/scripts/setup.sh" "$root/scripts/packages-windows.txt"

# ---- Source packages ----

apt_state="$out/apt"
downloads="$out/sources"
unpacked="$out/src"
apt_options=(-o "Dir::Etc::SourceList=$apt_state/sources.list" -o "Dir::Etc::SourceParts=$apt_state/sources.list.d"
    -o "Dir::State::Lists=$apt_state/lists" -o "Dir::Cache=$apt_state/cache" -o "APT::Sandbox::User=root"
    -o "Debug::NoLocking=1")
mapfile -t sources < <(grep -v '^\s*\(#\|$\)' "$root/scripts/sources-windows.txt")

# The deb-src twin of every Debian suite the machine installs from (one-line and deb822 files).
write_source_entries() {
    local codename
    codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
    mkdir -p "$apt_state/sources.list.d" "$apt_state/lists/partial" "$apt_state/cache/archives/partial"
    : >"$apt_state/sources.list"
    if compgen -G "/etc/apt/sources.list.d/*.list" >/dev/null || [[ -f /etc/apt/sources.list ]]; then
        cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null |
            awk -v codename="$codename" '$1 == "deb" { $1 = "deb-src"; for (i = 2; i <= NF; i++) if ($i == codename || index($i, codename "-") == 1) { print; break } }' \
                >"$apt_state/sources.list"
    fi
    : >"$apt_state/sources.list.d/debian.sources"
    local file
    for file in /etc/apt/sources.list.d/*.sources; do
        [[ -f "$file" ]] || continue
        awk -v codename="$codename" '
            BEGIN { RS = ""; FS = "\n" }
            {
                keep = 0; suites = 0; text = ""
                for (i = 1; i <= NF; i++) {
                    line = $i
                    if (line ~ /^#/) continue
                    if (line ~ /^Types:/) { if (line ~ /[ \t]deb([ \t]|$)/) keep = 1; line = "Types: deb-src" }
                    if (line ~ /^Enabled:[ \t]*no/) keep = 0
                    if (line ~ /^Suites:/ && line ~ ("[ \t]" codename "([ \t-]|$)")) suites = 1
                    text = text line "\n"
                }
                if (keep && suites) printf "%s\n", text
            }' "$file" >>"$apt_state/sources.list.d/debian.sources"
    done
}

fetch_sources() {
    [[ -f "$downloads/.complete" ]] && return 0
    write_source_entries
    apt-get "${apt_options[@]}" -q update
    mkdir -p "$downloads"
    local entry name version upstream
    for entry in "${sources[@]}"; do
        name=${entry%%=*}
        version=${entry#*=}
        # A source package whose Debian tarball is missing on the mirror still yields its
        # original tarball (verified against the signed index); that is built without Debian's patches.
        (cd "$downloads" && apt-get "${apt_options[@]}" -q source --download-only "$name=$version") || true
        upstream=${version#*:}
        upstream=${upstream%-*}
        if ! compgen -G "$downloads/${name}_${upstream}.orig.tar.*" >/dev/null; then
            echo "build-windows: could not fetch the source package $name=$version" >&2
            exit 1
        fi
    done
    touch "$downloads/.complete"
}

# Unpacks each package into src/NAME: with Debian's patches when its Debian tarball came, else
# the original tarball as it stands.
unpack_sources() {
    [[ -f "$unpacked/.complete" ]] && return 0
    rm -rf "$unpacked"
    mkdir -p "$unpacked"
    local entry name version bare dsc
    for entry in "${sources[@]}"; do
        name=${entry%%=*}
        version=${entry#*=}
        bare=${version#*:}
        dsc="$downloads/${name}_${bare}.dsc"
        if compgen -G "$downloads/${name}_${bare}.debian.tar.*" >/dev/null; then
            dpkg-source --no-check -x "$dsc" "$unpacked/$name" >/dev/null
        else
            mkdir -p "$unpacked/$name"
            tar -xf "$(compgen -G "$downloads/${name}_${bare%-*}.orig.tar.*" | head -1)" -C "$unpacked/$name" \
                --strip-components=1
        fi
    done
    touch "$unpacked/.complete"
}

# ---- Static libraries ----

build_dependencies() {
    local stamp="$out/deps/.complete"
    [[ -f "$stamp" && "$stamp" -nt "$root/cmake/windows-deps/CMakeLists.txt" ]] && return 0
    cmake -S "$root/cmake/windows-deps" -B "$out/deps-build" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" -DCMAKE_INSTALL_PREFIX="$out/deps" \
        -DZLIB_SOURCE="$unpacked/zlib" -DMINIZIP_SOURCE="$unpacked/minizip" -DOGG_SOURCE="$unpacked/libogg" \
        -DTREMOR_SOURCE="$unpacked/libvorbisidec" -DPORTAUDIO_SOURCE="$unpacked/portaudio19" \
        -DGOOGLETEST_SOURCE="$unpacked/googletest" -DSTB_SOURCE="$unpacked/libstb" >/dev/null
    cmake --build "$out/deps-build" -j"$jobs"
    cmake --install "$out/deps-build" >/dev/null
    touch "$stamp"
}

fetch_sources
unpack_sources
build_dependencies

# ---- The programs and the Windows tests ----

cmake -S "$root" -B "$out" -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
    -DNOVA31_WINDOWS_PREFIX="$out/deps" -DNOVA31_BENCH=OFF
cmake --build "$out" -j"$jobs"

# ---- What the Windows tests take from the Linux build ----

# The demo program tests drive nova31.exe from outside; the music player's test files come from
# the Linux build's encoder.
if [[ ! -f "$root/build/CMakeCache.txt" ]]; then
    cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=Release
fi
cmake --build "$root/build" -j"$jobs" --target demo_program_tests audio-test-files
