#!/usr/bin/env bash
# Boots a Debian kernel under qemu (software emulation) with the kernel's virtual camera
# (vivid) set up as one webcam, runs a V4L2 test program inside and exits with its
# result. Everything it needs is fetched on first use and kept in the cache folder.
#
#   vivid-vm.sh TEST_PROGRAM CACHE_DIR [test arguments...]
set -euo pipefail

test_program=$(readlink -f "$1")
cache=$2
shift 2
mkdir -p "$cache"
cache=$(readlink -f "$cache")

say() { echo "vivid-vm: $*" >&2; }

# Tools. On a fresh machine (CI runs as root) they are installed; elsewhere we say what
# is missing.
need=()
command -v qemu-system-x86_64 >/dev/null || need+=(qemu-system-x86)
[[ -x /bin/busybox ]] || need+=(busybox-static)
command -v cpio >/dev/null || need+=(cpio)
command -v modinfo >/dev/null || need+=(kmod)
command -v xz >/dev/null || need+=(xz-utils)
if ((${#need[@]})); then
    if [[ $(id -u) -ne 0 ]]; then
        say "missing packages: ${need[*]} (install them as root)"
        exit 1
    fi
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi

# The kernel: Debian's current linux-image package, unpacked, never installed.
kernel_dir=$cache/kernel
if [[ ! -f $kernel_dir/vmlinux || ! -f $kernel_dir/ready ]]; then
    rm -rf "$kernel_dir"
    mkdir -p "$kernel_dir"
    package=$(apt-cache depends linux-image-amd64 2>/dev/null | awk '/Depends: linux-image-/ {print $2; exit}' || true)
    if [[ -z $package ]]; then
        apt-get update -qq
        package=$(apt-cache depends linux-image-amd64 | awk '/Depends: linux-image-/ {print $2; exit}')
    fi
    say "fetching $package"
    # apt warns that root downloads without its sandbox user; that is expected here.
    (cd "$kernel_dir" && apt-get download -qq "$package" 2> >(grep -v 'unsandboxed' >&2))
    deb=$(ls "$kernel_dir"/*.deb)
    dpkg-deb --fsys-tarfile "$deb" |
        tar -x -C "$kernel_dir" --wildcards './boot/vmlinuz-*' './lib/modules/*/kernel/drivers/media/*'
    rm -f "$deb"
    # The compressed image decompresses itself at boot, which takes seconds without KVM;
    # booting the bare kernel skips that.
    vmlinuz=$(ls "$kernel_dir"/boot/vmlinuz-*)
    offset=$(LC_ALL=C grep -abo $'\xfd7zXZ' "$vmlinuz" | head -1 | cut -d: -f1)
    tail -c +$((offset + 1)) "$vmlinuz" | xz -dc 2>/dev/null >"$kernel_dir/vmlinux" || true
    [[ -s $kernel_dir/vmlinux ]] || cp "$vmlinuz" "$kernel_dir/vmlinux"
    touch "$kernel_dir/ready"
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
