#!/usr/bin/env bash
# Boots a Debian kernel under qemu (software emulation) with the kernel's virtual camera
# (vivid) set up as one webcam, runs a V4L2 test program inside and exits with its
# result. scripts/install-deps.sh installs the tools and unpacks the kernel into
# /var/cache/quvelocap/vivid-kernel (another folder: QUVELOCAP_VIVID_KERNEL).
#
#   vivid-vm.sh TEST_PROGRAM CACHE_DIR [test arguments...]
set -euo pipefail

test_program=$(readlink -f "$1")
cache=$2
shift 2
mkdir -p "$cache"
cache=$(readlink -f "$cache")

say() { echo "vivid-vm: $*" >&2; }

# Tools and kernel come from scripts/install-deps.sh; a test installs nothing itself.
need=()
command -v qemu-system-x86_64 >/dev/null || need+=(qemu-system-x86)
[[ -x /bin/busybox ]] || need+=(busybox-static)
command -v cpio >/dev/null || need+=(cpio)
command -v modinfo >/dev/null || need+=(kmod)
command -v xz >/dev/null || need+=(xz-utils)
if ((${#need[@]})); then
    say "missing packages: ${need[*]} (bash scripts/install-deps.sh as root installs them)"
    exit 1
fi
kernel_dir=${QUVELOCAP_VIVID_KERNEL:-/var/cache/quvelocap/vivid-kernel}
if [[ ! -f $kernel_dir/vmlinux || ! -f $kernel_dir/ready ]]; then
    say "no kernel in $kernel_dir (bash scripts/install-deps.sh as root fetches it)"
    exit 1
fi
moddir=$(ls -d "$kernel_dir"/lib/modules/*)

# vivid and what it needs, in load order (the package carries no modules.dep).
declare -A seen=()
order=()
module_file() { find "$moddir" -name "$1.ko*" -o -name "${1//_/-}.ko*" | head -1; }
add_module() {
    local name=${1//-/_} file dep
    [[ -n ${seen[$name]:-} ]] && return 0
    seen[$name]=1
    file=$(module_file "$name")
    [[ -n $file ]] || file=$(module_file "${1//_/-}")
    if [[ -z $file ]]; then
        say "module $1 not found (built into the kernel?)"
        return 0
    fi
    for dep in $(modinfo -F depends "$file" | tr ',' ' '); do
        add_module "$dep"
    done
    order+=("$file")
}
add_module vivid

# The initramfs: busybox, the modules, the test program and its shared libraries.
root=$(mktemp -d "$cache/root.XXXXXX")
trap 'rm -rf "$root"' EXIT
mkdir -p "$root"/{bin,dev,proc,sys,tmp,modules,test}
cp /bin/busybox "$root/bin/busybox"
ln -s busybox "$root/bin/sh"
i=0
load=""
vivid_options="n_devs=1 node_types=0x1 num_inputs=1 input_types=0x0"
vivid_module=""
for f in "${order[@]}"; do
    base=$(printf '%02d-%s' $i "$(basename "$f")")
    case $f in
    *.xz) xz -dc "$f" >"$root/modules/${base%.xz}"; base=${base%.xz} ;;
    *) cp "$f" "$root/modules/$base" ;;
    esac
    opts=""
    if [[ $base == *-vivid.ko ]]; then
        opts=$vivid_options
        vivid_module=/modules/$base
    fi
    load+="insmod /modules/$base $opts || echo 'insmod $base failed'"$'\n'
    i=$((i + 1))
done
cp "$test_program" "$root/test/program"
copy_libraries() {
    local lib
    for lib in $(ldd "$1" | awk '$2 == "=>" && $3 ~ /^\// {print $3} $1 ~ /^\/.*ld-linux/ {print $1}'); do
        [[ -e $root$lib ]] && continue
        mkdir -p "$root$(dirname "$lib")"
        cp -L "$lib" "$root$lib"
    done
}
copy_libraries "$test_program"
# A test with windows draws them on Qt's offscreen platform, a plugin Qt loads by path.
if ldd "$test_program" | grep libQt6Widgets >/dev/null; then
    plugin=$(find /usr/lib -path '*qt6/plugins/platforms/libqoffscreen.so' | head -1)
    mkdir -p "$root$(dirname "$plugin")"
    cp -L "$plugin" "$root$plugin"
    copy_libraries "$plugin"
fi
args=""
for a in "$@"; do args+=" '$a'"; done
cat >"$root/init" <<INIT
#!/bin/sh
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
mount -t tmpfs tmp /tmp
$load
n=0
while [ ! -e /dev/video0 ] && [ \$n -lt 100 ]; do sleep 0.1; n=\$((n + 1)); done
cd /test
export VIVID_MODULE=$vivid_module VIVID_OPTIONS='$vivid_options' QT_QPA_PLATFORM=offscreen
mkdir -m 700 /tmp/run
HOME=/tmp XDG_RUNTIME_DIR=/tmp/run ./program $args
echo "VIVID-TEST-EXIT=\$?"
poweroff -f
INIT
chmod +x "$root/init"
name=$(basename "$test_program")
initrd=$cache/$name.cpio
(cd "$root" && find . | cpio -o -H newc --quiet >"$initrd")

log=$cache/$name.log
say "booting (software emulation)"
start=$(date +%s%N)
timeout 600 qemu-system-x86_64 -accel tcg -m 1024 -smp 1 -nodefaults -display none \
    -serial stdio -no-reboot -kernel "$kernel_dir/vmlinux" -initrd "$initrd" \
    -append 'console=ttyS0 panic=-1 quiet loglevel=3' </dev/null | tee "$log" |
    grep -v '^\s*$' | sed -n '/Start testing\|PASS\|FAIL\|SKIP\|QWARN\|QDEBUG\|Totals\|VIVID-TEST-EXIT\|insmod\|Loc:\|Actual\|Expected\|Compared/p'
end=$(date +%s%N)
say "VM run took $(( (end - start) / 1000000 )) ms"
code=$(sed -n 's/.*VIVID-TEST-EXIT=\([0-9]*\).*/\1/p' "$log" | tail -1)
if [[ -z $code ]]; then
    say "the test program did not finish; see $log"
    exit 1
fi
exit "$code"
