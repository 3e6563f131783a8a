#!/usr/bin/env bash
# Installs the Debian 12 packages that the build, the tests and the station need.
# Idempotent: when everything is there already it only checks and returns.
set -euo pipefail

PACKAGES=(
    # build
    cmake ninja-build g++ pkg-config ccache clang-format
    qt6-base-dev qt6-base-dev-tools libgl-dev
    libsqlite3-dev unixodbc-dev libv4l-dev libjpeg62-turbo-dev libturbojpeg0-dev libudev-dev
    libbenchmark-dev libpq-dev
    # face framing: dlib's face detector (libdlib19.1 brings the landmark model, libdlib-data)
    libdlib-dev
    # runtime: databases and their ODBC drivers, camera
    libsqlite3-0 unixodbc odbc-postgresql tdsodbc libv4l-0 libturbojpeg0 libudev1 sqlite3
    fonts-liberation2
    # tests: PostgreSQL test server, X server for the real-window test, screenshots
    postgresql-15 xvfb xauth xdotool imagemagick fonts-dejavu-core x11-utils
    # tests: the kernel's virtual camera in a small VM
    qemu-system-x86 busybox-static kmod cpio xz-utils
    # packaging: CPack's Debian dependencies, checks of the desktop entry, the metadata
    # and the package itself
    dpkg-dev file appstream desktop-file-utils lintian
    # hardening: static analysis (scripts/lint.sh) and libFuzzer (scripts/fuzz.sh)
    clang libclang-rt-14-dev clang-tidy cppcheck
)

missing=()
for p in "${PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if ((${#missing[@]})); then
    if [[ $(id -u) -ne 0 ]]; then
        echo "install-deps: run as root to install: ${missing[*]}" >&2
        exit 1
    fi
    echo "install-deps: installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# Debian turns on psqlODBC's communication log, which leaves a file in /tmp for every
# process that connects; the station never wants it.
if [[ -w /etc/odbcinst.ini ]] && grep -q '^CommLog=1' /etc/odbcinst.ini; then
    sed -i 's/^CommLog=1/CommLog=0/' /etc/odbcinst.ini
fi
# The kernel whose virtual camera (vivid) tests/camera/vivid-vm.sh boots under qemu:
# Debian's current linux-image package, downloaded and unpacked, never installed.
kernel_dir=${QUVELOCAP_VIVID_KERNEL:-/var/cache/quvelocap/vivid-kernel}
if [[ ! -f $kernel_dir/vmlinux || ! -f $kernel_dir/ready ]]; then
    if ! mkdir -p "$kernel_dir" 2>/dev/null || [[ ! -w $kernel_dir ]]; then
        echo "install-deps: run as root to fetch the test kernel into $kernel_dir" >&2
        exit 1
    fi
    package=$(apt-cache depends linux-image-amd64 2>/dev/null |
        awk '/Depends: linux-image-/ {print $2; exit}' || true)
    if [[ -z $package ]]; then
        apt-get update -qq
        package=$(apt-cache depends linux-image-amd64 | awk '/Depends: linux-image-/ {print $2; exit}')
    fi
    echo "install-deps: fetching $package for the virtual camera test"
    rm -rf "${kernel_dir:?}"/*
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
echo "install-deps: all packages present"
