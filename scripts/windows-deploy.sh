#!/usr/bin/env bash
# Puts quvelocap.exe in a folder with exactly what it loads on a Windows PC, and nothing
# else: the DLLs named by its import tables and by those of the Qt plugins below, followed
# to the end, and the face landmark model. This folder is what the MSI installs
# (scripts/windows-msi.sh) and what the Windows end-to-end run starts.
#
#   windows-deploy.sh EXE SDK_PREFIX FOLDER
#
# The Qt plugins are the ones the station asks for; Qt finds them in platforms/ and
# imageformats/ beside the exe:
#
#   platforms/qwindows.dll       the windows platform plugin: without a platform plugin
#                                QGuiApplication refuses to start
#   imageformats/qjpeg.dll       every photo the station stores, reads back and exports is
#                                a JPEG; the image control loads and saves through it
#   imageformats/qgif.dll        a photo an older station stored as GIF still reads back
#                                (the picture decoder accepts JPEG, PNG, BMP and GIF; PNG
#                                and BMP are built into Qt Gui)
#
# Left out on purpose, although windeployqt would add them:
#   qoffscreen, qminimal, qdirect2d   only tests and benchmarks use other platforms (Wine's
#                                     runner points at the SDK's plugins)
#   qico, qsvg, qtiff, qwebp, ...     no picture of the station is in these formats; the
#                                     window icon comes from PNGs in the program
#   styles/qwindowsvistastyle         the design lays every control out at fixed places;
#                                     Qt's built-in "windows" style draws them all, the
#                                     Vista style only changes their look
#   translations, d3dcompiler_47, opengl32sw, vc_redist   the station is in Portuguese by
#                                     itself, Qt is built without OpenGL, and MinGW's
#                                     runtime DLLs come along as imports
#
# A DLL found in neither the SDK nor MinGW's runtime must be one of Windows' own: MinGW
# carries an import library for each of those, which is how that is checked.
set -euo pipefail
exe=$1 sdk=$2 folder=$3
model=${QUVELOCAP_LANDMARK_MODEL:-/usr/share/dlib/shape_predictor_68_face_landmarks.dat}
mingw=/usr/x86_64-w64-mingw32/lib
runtime=$(dirname "$(x86_64-w64-mingw32-g++-posix -print-file-name=libstdc++-6.dll)")
plugins=(platforms/qwindows.dll imageformats/qjpeg.dll imageformats/qgif.dll)
say() { echo "windows-deploy: $*" >&2; }

[[ -f $exe ]] || { say "no $exe"; exit 1; }
[[ -f $model ]] || { say "no landmark model at $model (apt-get install libdlib-data)"; exit 1; }

imports() { # a PE file -> the DLL names its import table lists, one a line
    x86_64-w64-mingw32-objdump -p "$1" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr -d '\r'
}
# A DLL's file among ours, empty for one of Windows' own; fails for one found nowhere.
locate() {
    local name=$1 dir
    for dir in "$sdk/bin" "$runtime" "$mingw"; do
        [[ -f $dir/$name ]] && { echo "$dir/$name"; return; }
    done
    local stem=${name%.*}
    stem=${stem,,}
    if [[ -f $mingw/lib$stem.a || $stem == api-ms-win-* ]]; then
        return
    fi
    say "$name is imported but is neither ours nor one of Windows' own DLLs"
    return 1
}

rm -rf "$folder"
mkdir -p "$folder"
cp "$exe" "$folder/quvelocap.exe"
queue=("$folder/quvelocap.exe")
for plugin in "${plugins[@]}"; do
    mkdir -p "$folder/$(dirname "$plugin")"
    cp "$sdk/plugins/$plugin" "$folder/$plugin"
    queue+=("$folder/$plugin")
done
declare -A seen=()
while ((${#queue[@]})); do
    file=${queue[0]}
    queue=("${queue[@]:1}")
    while read -r name; do
        key=${name,,}
        [[ -n ${seen[$key]:-} ]] && continue
        seen[$key]=1
        source=$(locate "$name")
        [[ -n $source ]] || continue
        cp "$source" "$folder/$name"
        queue+=("$folder/$name")
    done < <(imports "$file")
done
# The PC gets the programs without their symbols and debug information (MinGW's
# libstdc++ alone carries 22 MB of it); the build keeps its own copies whole.
find "$folder" \( -name '*.exe' -o -name '*.dll' \) -exec x86_64-w64-mingw32-strip --strip-unneeded {} +
# The landmark model beside the exe, where FaceDetector::defaultLandmarkModel looks on
# Windows; a hard link when the file system allows it (100 MB).
ln -f "$model" "$folder/" 2>/dev/null || cp "$model" "$folder/"
say "$(cd "$folder" && find . -type f | sort | sed 's|^\./||' | tr '\n' ' ')"
