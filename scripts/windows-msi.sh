#!/usr/bin/env bash
# Makes the station's MSI with msitools' wixl from a folder scripts/windows-deploy.sh
# made: every file of it goes to Program Files\QuveloCap (per machine, 64-bit), with two
# Start-menu shortcuts and an entry under installed programs.
#
#   windows-msi.sh FOLDER VERSION ICON OUTPUT.msi
#
# VERSION is the project's (2020.2.14). Windows Installer compares the first three
# fields of ProductVersion and allows at most 255.255.65535, so the year cannot stand as
# it is: the MSI carries YEAR-2000.MINOR.PATCH (20.2.14). That keeps the order of any two
# versions from 2000 to 2255, which is what an upgrade is decided on; any other version
# is refused here rather than packaged in a wrong order.
#
# Codes: the UpgradeCode below never changes, so every QuveloCap MSI finds the one
# installed before it; wixl's MajorUpgrade removes an older one completely before
# installing (RemoveExistingProducts right after InstallValidate) and refuses a
# downgrade. The ProductCode is derived from the version, so two builds of one version are
# one product (Windows refuses the second as already installed instead of keeping both),
# and each component's code from its path. Nothing is written to HKEY_CURRENT_USER: the
# operator's settings there are never touched by installing, upgrading or removing.
set -euo pipefail
folder=$1 version=$2 icon=$3 output=$4
readonly upgrade_code='{0AE270A6-501A-47F6-8888-D4F1F1C3E00B}'
say() { echo "windows-msi: $*" >&2; }

msi_version() { # project version -> the MSI's ProductVersion
    local year minor patch
    IFS=. read -r year minor patch <<<"$1"
    if ! [[ $1 =~ ^[0-9]+\.[0-9]+\.[0-9]+$ ]] || ((year < 2000 || year > 2255 || minor > 255 ||
        patch > 65535)); then
        say "version $1 cannot be mapped to an MSI ProductVersion (YEAR 2000-2255, MINOR <= 255, PATCH <= 65535)"
        return 1
    fi
    echo "$((year - 2000)).$minor.$patch"
}
# A code that depends only on its text: SHA-1 with a name-based UUID's version and variant.
stable_guid() {
    local h
    h=$(printf 'QuveloCap %s' "$1" | sha1sum | cut -c1-32)
    h=${h:0:12}5${h:13:3}$(printf '%x' $((0x${h:16:1} & 0x3 | 0x8)))${h:17:15}
    echo "{${h:0:8}-${h:8:4}-${h:12:4}-${h:16:4}-${h:20:12}}" | tr 'a-f' 'A-F'
}
xml() { local s=${1//&/&amp;}; s=${s//</&lt;}; s=${s//>/&gt;}; echo "${s//\"/&quot;}"; }
ident() { # a path -> an MSI identifier (letters, digits, _ and ., at most 72)
    local id=${1//[^A-Za-z0-9_.]/_}
    echo "${id:0:70}"
}

# One <Directory> of the tree, its files a component each (the file is the key path).
# The exe's component also holds the shortcuts, which then come and go with it.
emit_directory() {
    local dir=$1 indent=$2 entry rel
    for entry in "$folder/$dir"*; do
        rel=${entry#"$folder/"}
        if [[ -d $entry ]]; then
            echo "$indent<Directory Id=\"d_$(ident "$rel")\" Name=\"$(xml "$(basename "$entry")")\">"
            emit_directory "$rel/" "$indent  "
            echo "$indent</Directory>"
            continue
        fi
        echo "$indent<Component Id=\"c_$(ident "$rel")\" Guid=\"$(stable_guid "component $rel")\" Win64=\"yes\">"
        echo "$indent  <File Id=\"f_$(ident "$rel")\" Name=\"$(xml "$(basename "$entry")")\" Source=\"station/$(xml "$rel")\" KeyPath=\"yes\"/>"
        [[ $rel == quvelocap.exe ]] && shortcuts "$indent  "
        echo "$indent</Component>"
    done
}
shortcuts() {
    local common='Directory="ProgramMenuFolder" Target="[INSTALLDIR]quvelocap.exe" WorkingDirectory="INSTALLDIR" Icon="quvelocap.ico"'
    echo "$1<Shortcut Id=\"s_station\" Name=\"QuveloCap\" Description=\"Captura de fotos de alunos\" $common/>"
    echo "$1<Shortcut Id=\"s_demo\" Name=\"QuveloCap (demonstração)\" Arguments=\"--demo\" Description=\"Captura de fotos de alunos com o banco e a câmera de demonstração\" $common/>"
}

[[ -f $folder/quvelocap.exe ]] || { say "no $folder/quvelocap.exe (scripts/windows-deploy.sh)"; exit 1; }
[[ -f $icon ]] || { say "no icon $icon"; exit 1; }
product_version=$(msi_version "$version")
folder=$(cd "$folder" && pwd)
mkdir -p "$(dirname "$output")"
output=$(cd "$(dirname "$output")" && pwd)/$(basename "$output")
wxs=${output%.msi}.wxs
tree=$(emit_directory "" "          ")
{
    cat <<EOF
<?xml version="1.0" encoding="utf-8"?>
<!-- Made by scripts/windows-msi.sh from $(xml "$folder"); project version $version. -->
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="$(stable_guid "product $product_version")" Name="QuveloCap" Language="1046" Codepage="1252"
           Version="$product_version" Manufacturer="QuveloCap" UpgradeCode="$upgrade_code">
    <Package InstallerVersion="500" Compressed="yes" InstallScope="perMachine" Manufacturer="QuveloCap"
             Description="QuveloCap $version" Comments="Estação de captura de fotos de alunos"/>
    <Media Id="1" Cabinet="quvelocap.cab" EmbedCab="yes"/>
    <MajorUpgrade DowngradeErrorMessage="Uma versão mais nova do QuveloCap já está instalada."/>
    <Icon Id="quvelocap.ico" SourceFile="quvelocap.ico"/>
    <Property Id="ARPPRODUCTICON" Value="quvelocap.ico"/>
    <Property Id="ARPCOMMENTS" Value="Estação de captura de fotos de alunos, versão $version"/>
    <Property Id="ARPNOMODIFY" Value="1"/>
    <Directory Id="TARGETDIR" Name="SourceDir">
      <Directory Id="ProgramFiles64Folder">
        <Directory Id="INSTALLDIR" Name="QuveloCap">
$tree
        </Directory>
      </Directory>
      <Directory Id="ProgramMenuFolder"/>
    </Directory>
    <Feature Id="Station" Title="QuveloCap" Level="1">
EOF
    (cd "$folder" && find . -type f | sort) | while read -r rel; do
        echo "      <ComponentRef Id=\"c_$(ident "${rel#./}")\"/>"
    done
    cat <<EOF
    </Feature>
  </Product>
</Wix>
EOF
} >"$wxs"

# wixl takes sources by relative path only: a work folder holds the icon and a link to
# the station's folder.
work=$(mktemp -d "${TMPDIR:-/tmp}/quvelocap-msi.XXXXXX")
trap 'rm -rf "$work"' EXIT
ln -s "$folder" "$work/station"
cp "$icon" "$work/quvelocap.ico"
rm -f "$output"
(cd "$work" && wixl -a x64 -o "$output" "$wxs")
say "$output: ProductVersion $product_version, $(stat -c %s "$output") bytes"
