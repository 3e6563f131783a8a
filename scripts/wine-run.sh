#!/usr/bin/env bash
# Runs one Windows program of the cross-build under Wine, as CTest's emulator: in a
# private WINEPREFIX (a copy of a template prefix, much faster than making one) and on a
# virtual X display of its own, since Wine's event loop needs X even for offscreen Qt.
# The program's DLLs are found through WINEPATH: the SDK's and MinGW's runtime.
#
#   QUVELOCAP_WINSDK          the SDK prefix (Qt, sqlite3, libjpeg-turbo DLLs and plugins)
#   QUVELOCAP_WINE_TEMPLATE   the template prefix; made here on first use
set -euo pipefail
: "${QUVELOCAP_WINSDK:?the SDK prefix (scripts/windows-sdk.sh prints it)}"
template=${QUVELOCAP_WINE_TEMPLATE:?the template WINEPREFIX}
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko installer dialogs: the tests need neither.
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64

windows_path() { echo "Z:${1//\//\\}"; }

if [[ ! -f $template/.ready ]]; then
    # The first test to get here makes it; the others wait for it.
    mkdir -p "$(dirname "$template")"
    exec 9>"$template.lock"
    flock 9
    if [[ ! -f $template/.ready ]]; then
        rm -rf "$template"
        WINEPREFIX=$template xvfb-run -a wineboot -i >/dev/null 2>&1
        WINEPREFIX=$template wineserver -w
        touch "$template/.ready"
    fi
    flock -u 9
fi

prefix=$(mktemp -d "${TMPDIR:-/tmp}/quvelocap-wine.XXXXXX")
mounted=()
cleanup() {
    WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
    for point in "${mounted[@]}"; do umount "$point" || true; done
    rm -rf "$prefix"
}
trap cleanup EXIT
cp -a "$template/." "$prefix/"
export WINEPREFIX=$prefix

# A test that asks for them (QUVELOCAP_WINE_DRIVES=1) gets disks that refuse writes, as
# Wine drives: T: a 16 KiB tmpfs; R: a read-only view of the tmpfs that S: writes to.
# Mounting needs root; without it the test is told why and skips.
small_drives() {
    local drives=$prefix/drives
    mkdir -p "$drives/full" "$drives/store" "$drives/ro"
    mount -t tmpfs -o size=16k,mode=0700 tmpfs "$drives/full" && mounted=("$drives/full") &&
        mount -t tmpfs -o size=64k,mode=0700 tmpfs "$drives/store" &&
        mounted=("$drives/store" "${mounted[@]}") &&
        mount --bind "$drives/store" "$drives/ro" && mounted=("$drives/ro" "${mounted[@]}") &&
        mount -o remount,bind,ro "$drives/ro" || return 1
    ln -s "$drives/full" "$prefix/dosdevices/t:"
    ln -s "$drives/store" "$prefix/dosdevices/s:"
    ln -s "$drives/ro" "$prefix/dosdevices/r:"
    export QC_FULL_DRIVE=T: QC_READONLY_DRIVE=R: QC_READONLY_DRIVE_WRITABLE=S:
}
if [[ -n ${QUVELOCAP_WINE_DRIVES:-} ]] && ! small_drives 2>"$prefix/drives.log"; then
    export QC_DRIVES_REFUSED="the runner could not mount them: $(tr '\n' ' ' <"$prefix/drives.log")"
fi

runtime=$(dirname "$(x86_64-w64-mingw32-g++-posix -print-file-name=libstdc++-6.dll)")
export WINEPATH="$(windows_path "$QUVELOCAP_WINSDK/bin");$(windows_path "$runtime");$(windows_path /usr/x86_64-w64-mingw32/lib)"
export QT_PLUGIN_PATH=$(windows_path "$QUVELOCAP_WINSDK/plugins")
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
# Wine keeps the Unix QT_* variables away from Windows programs (a Linux desktop's Qt
# settings are not theirs) and hands them WINEQT_* under the QT_ name instead.
for name in $(compgen -e | grep '^QT_'); do
    export "WINE$name=${!name}"
done

# QtTest's own log does not reach a Unix pipe from inside Wine; a test writes it to a
# file that is shown afterwards.
args=("$@")
log=
if [[ $(basename "$1") == tst_*.exe ]]; then
    log=$prefix/qtest.log
    args+=(-o "$(windows_path "$log"),txt")
fi
status=0
xvfb-run -a -s "-screen 0 1280x1024x24" wine "${args[@]}" 2> >(grep -v '^X connection to .* broken' >&2) ||
    status=$?
WINEPREFIX=$prefix wineserver -w 2>/dev/null || true
[[ -n $log && -f $log ]] && cat "$log"
exit "$status"
