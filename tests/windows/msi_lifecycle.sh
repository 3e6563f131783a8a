#!/usr/bin/env bash
# The MSI's whole life under Wine, in a prefix of its own, as a school's IT would live it:
#   1. `msiexec /i … /qn` puts exactly the station's folder in Program Files\QuveloCap,
#      the two Start-menu shortcuts and an installed-programs entry (version, publisher);
#   2. the installed station runs the demo end to end, started by its demo shortcut
#      (e2e_station_windows.sh pointed at the installed copy);
#   3. a newer MSI (the patch number bumped, one plugin fewer) replaces it: one entry, the
#      new version, the new file set, and the operator's settings in HKCU untouched;
#      the older MSI is then refused;
#   4. `msiexec /x … /qn` removes every file, shortcut and entry; the settings stay.
#
#   msi_lifecycle.sh STATION_FOLDER ICON VERSION UI_FILE WORK_FOLDER WINE_TEMPLATE
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
station=$1 icon=$2 version=$3 ui=$4 work=$5 template=$6
msi_script=$here/../../scripts/windows-msi.sh
settings_key='HKCU\Software\VB and VBA Program Settings\QuveloCap\Config'
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
# A server as an older station would have left it: an instance name, a backslash.
setting='ESCOLA-SQL\SQLEXPRESS;Escola Dom Pedro II'

step() { echo "msi: $*"; }
fail() { echo "msi: FAILED: $*" >&2; exit 1; }
[[ -f $station/quvelocap.exe ]] || fail "no $station/quvelocap.exe (bash scripts/windows-build.sh)"
rm -rf -- "$work"
mkdir -p "$work"
work=$(cd "$work" && pwd)
windows_path() { echo "Z:${1//\//\\}"; }

# --- the two packages ------------------------------------------------------------------
IFS=. read -r major minor patch <<<"$version"
newer=$major.$minor.$((patch + 1))
cp -al "$station" "$work/newer" 2>/dev/null || cp -a "$station" "$work/newer"
rm "$work/newer/imageformats/qgif.dll" # a newer version that no longer needs one file
bash "$msi_script" "$station" "$version" "$icon" "$work/older.msi"
bash "$msi_script" "$work/newer" "$newer" "$icon" "$work/newer.msi"
product_code() { msiinfo export "$1" Property | tr -d '\r' | sed -n 's/^ProductCode\t//p'; }
product_version() { msiinfo export "$1" Property | tr -d '\r' | sed -n 's/^ProductVersion\t//p'; }
older_code=$(product_code "$work/older.msi") newer_code=$(product_code "$work/newer.msi")
[[ $older_code != "$newer_code" ]] || fail "both versions have the product code $older_code"

# --- a prefix and a display of this run's own --------------------------------------------
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEARCH=win64
# No Mono or Gecko dialogs; no Linux menu entries made from the shortcuts.
export WINEDLLOVERRIDES="mscoree,mshtml=,winemenubuilder.exe="
export XDG_DATA_HOME=$work/xdg/data XDG_CONFIG_HOME=$work/xdg/config
xvfb_pid=
cleanup() {
    wineserver -k 2>/dev/null || true
    [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null || true
    wait 2>/dev/null || true
}
trap cleanup EXIT
Xvfb -displayfd 5 -screen 0 1024x768x24 -nolisten tcp 5>"$work/display" 2>/dev/null &
xvfb_pid=$!
for _ in $(seq 100); do [[ -s $work/display ]] && break; sleep 0.1; done
export DISPLAY=:$(head -n1 "$work/display")
if [[ -f $template/.ready ]]; then
    cp -a "$template" "$WINEPREFIX"
else
    wineboot -i >/dev/null 2>&1
fi
installed=$WINEPREFIX/drive_c/Program\ Files/QuveloCap

msiexec() { # /i or /x, a package, the name of its log
    local rc=0
    wine msiexec "$1" "$(windows_path "$2")" /qn /l*v "$(windows_path "$work/$3.log")" || rc=$?
    wineserver -w
    return "$rc"
}
listing() { # a folder -> its files, relative, with their checksums
    (cd "$1" && find . -type f -printf '%P\n' | LC_ALL=C sort | while read -r f; do
        echo "$(md5sum <"$f" | cut -c1-32) $f"
    done)
}
same_files() { # installed folder, expected folder
    diff <(listing "$2") <(listing "$1") >"$work/files.diff" ||
        fail "installed files differ from $2:$(sed 's/^/\n    /' "$work/files.diff")"
}
reg_value() { # key, name -> the REG_SZ value, empty when there is none
    wine reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' |
        sed -n "s/^ *$2 *REG_SZ *//p"
}
entries() { # how many installed-programs entries are named QuveloCap
    wine reg query "$uninstall_key" /s 2>/dev/null | tr -d '\r' |
        awk '$1 == "DisplayName" && $2 == "REG_SZ" && $3 == "QuveloCap" && NF == 3 { n++ } END { print n + 0 }'
}
check_entry() { # product code, expected version
    local key="$uninstall_key\\$1"
    [[ $(reg_value "$key" DisplayName) == QuveloCap ]] || fail "no installed-programs entry $1"
    [[ $(reg_value "$key" DisplayVersion) == "$2" ]] ||
        fail "entry $1 shows version '$(reg_value "$key" DisplayVersion)', not $2"
    [[ $(reg_value "$key" Publisher) == QuveloCap ]] || fail "entry $1 has no publisher QuveloCap"
    [[ $(entries) == 1 ]] || fail "$(entries) installed-programs entries for QuveloCap"
}
shortcut() { # name -> the shortcut's file in either Start menu
    find "$WINEPREFIX/drive_c" -path '*/Start Menu/Programs/*' -name "$1.lnk" | head -n1
}

# --- 1. silent install ---------------------------------------------------------------------
step "install $version as $(product_version "$work/older.msi"): msiexec /i older.msi /qn"
msiexec /i "$work/older.msi" install || fail "msiexec /i ended with $?"
same_files "$installed" "$station"
step "installed $(find "$installed" -type f | wc -l) files in Program Files\\QuveloCap"
check_entry "$older_code" "$(product_version "$work/older.msi")"
station_lnk=$(shortcut QuveloCap) demo_lnk=$(shortcut 'QuveloCap (demonstração)')
[[ -n $station_lnk && -n $demo_lnk ]] || fail "Start-menu shortcuts missing"
strings -el "$demo_lnk" | grep -qx -- '--demo' || fail "the demo shortcut does not pass --demo"
strings -el "$station_lnk" | grep -q -- '--demo' && fail "the station's shortcut passes --demo"
step "shortcuts: ${station_lnk#"$WINEPREFIX/"} and its demonstration"

# --- 2. the installed copy, end to end ------------------------------------------------------
step "end to end on the installed copy, started by its demo shortcut"
E2E_WINEPREFIX=$WINEPREFIX E2E_SHORTCUT=$demo_lnk \
    bash "$here/e2e_station_windows.sh" "$installed" "$ui" "$work/e2e" "$template" ||
    fail "the installed station's end-to-end run failed"

# --- 3. upgrade over it, settings kept --------------------------------------------------------
wine reg add "$settings_key" /v srv /t REG_SZ /d "$setting" /f >/dev/null
[[ $(reg_value "$settings_key" srv) == "$setting" ]] || fail "reg add did not store the setting"
step "upgrade to $newer: msiexec /i newer.msi /qn"
msiexec /i "$work/newer.msi" upgrade || fail "msiexec /i of the newer package ended with $?"
same_files "$installed" "$work/newer"
check_entry "$newer_code" "$(product_version "$work/newer.msi")"
[[ -z $(reg_value "$uninstall_key\\$older_code" DisplayName) ]] || fail "the older version is still registered"
[[ $(reg_value "$settings_key" srv) == "$setting" ]] ||
    fail "the setting reads '$(reg_value "$settings_key" srv)' after the upgrade"
step "replaced: one entry, version $(product_version "$work/newer.msi"), qgif.dll gone, srv kept"
if msiexec /i "$work/older.msi" downgrade; then
    fail "the older package installed over the newer one"
fi
same_files "$installed" "$work/newer"
step "the older package is refused over the newer one"

# --- 4. uninstall -------------------------------------------------------------------------------
step "uninstall: msiexec /x newer.msi /qn"
msiexec /x "$work/newer.msi" uninstall || fail "msiexec /x ended with $?"
if [[ -e $installed ]]; then
    fail "left behind in Program Files:$(find "$installed" | sed 's/^/\n    /')"
fi
[[ -z $(shortcut QuveloCap) && -z $(shortcut 'QuveloCap (demonstração)') ]] || fail "shortcuts left behind"
[[ $(entries) == 0 ]] || fail "an installed-programs entry is left behind"
[[ $(reg_value "$settings_key" srv) == "$setting" ]] || fail "uninstalling touched the settings"
step "removed: no Program Files\\QuveloCap, no shortcut, no entry; srv kept"
step "passed"
