# shellcheck shell=bash disable=SC2034,SC2154
# (The caller's variables are read here and the ones set here are read by the caller.)
# Shared by the tests that boot Debian's kernel under QEMU (scripts/test-kernel.sh,
# scripts/test-powercut.sh); sourced, not run. The caller sets kernel_test (its name in
# the SKIP line), build and cache, and calls:
#   kernel_setup              QEMU installed, kernel and busybox unpacked into $cache;
#                             sets kpkg, kver, vmlinuz, busybox, modroot, moddir
#   kernel_program            the built program (built when missing); sets program
#   kernel_root DIR INIT      a root tree with busybox, the program in /opt/evtrak and its
#                             libraries, INIT as /init
#   kernel_modules DIR MOD... the modules named (paths under kernel/, without .ko) and
#                             those they need, into DIR/lib/modules, listed in load order
#                             in DIR/lib/modules/order
#   kernel_cpio DIR FILE      the root tree packed as an initramfs

kernel_skip() {
  echo "SKIP $kernel_test : $* ; test sur noyau réel non exécuté."
  exit 0
}

kernel_setup() {
  local sudo="" deb
  [ "$(id -u)" -ne 0 ] && sudo="sudo -n"
  # QEMU is installed into the system (it needs its libraries); the kernel and busybox
  # are only unpacked into the cache.
  if ! command -v qemu-system-x86_64 > /dev/null; then
    echo "Installation de qemu-system-x86"
    if ! $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
      qemu-system-x86 > /dev/null 2>&1; then
      $sudo env DEBIAN_FRONTEND=noninteractive apt-get update -qq > /dev/null 2>&1 || true
      $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
        qemu-system-x86 > /dev/null 2>&1 || kernel_skip "qemu-system-x86 ne peut pas être installé"
    fi
  fi
  command -v gcc > /dev/null || kernel_skip "gcc absent"

  kpkg=$(apt-cache depends linux-image-amd64 2> /dev/null | awk '/Depends: linux-image-/ {print $2; exit}')
  [ -n "$kpkg" ] || kernel_skip "paquet linux-image-amd64 inconnu d'apt"
  local unpacked=$cache/$kpkg
  if [ ! -f "$unpacked/ready" ]; then
    echo "Téléchargement de $kpkg et busybox-static dans $cache"
    rm -rf "$unpacked"
    mkdir -p "$unpacked/deb"
    (cd "$unpacked/deb" && apt-get download "$kpkg" busybox-static > /dev/null 2>&1) ||
      kernel_skip "$kpkg ou busybox-static ne peut pas être téléchargé"
    for deb in "$unpacked"/deb/*.deb; do dpkg -x "$deb" "$unpacked/x"; done
    rm -rf "$unpacked/deb"
    touch "$unpacked/ready"
  fi
  kver=${kpkg#linux-image-}
  vmlinuz=$unpacked/x/boot/vmlinuz-$kver
  busybox=$unpacked/x/bin/busybox
  modroot=$unpacked/x/lib/modules/$kver
  moddir=$modroot/kernel/drivers
}

kernel_program() {
  program=$build/src/evtrak
  if [ ! -x "$program" ]; then
    cmake -S . -B "$build" > /dev/null
    cmake --build "$build" -j"$(nproc)" --target evtrak
  fi
}

kernel_root() { # dir init
  local root=$1 lib
  mkdir -p "$root"/{bin,dev,proc,sys,tmp,opt/evtrak,lib/modules}
  cp "$busybox" "$root/bin/busybox"
  objcopy --strip-debug "$program" "$root/opt/evtrak/evtrak"
  # The program's shared libraries at the paths the dynamic loader looks at.
  ldd "$program" | awk '/=> \// {print $3} /^[ \t]*\// {print $1}' | while read -r lib; do
    mkdir -p "$root$(dirname "$lib")"
    objcopy --strip-debug "$(readlink -f "$lib")" "$root$lib"
  done
  cp "$2" "$root/init"
  chmod 755 "$root/init"
}

kernel_modules() { # dir module...
  local root=$1 m
  shift
  : > "$root/lib/modules/order"
  # Module names write "_" where file names may have "-".
  (cd "$modroot/kernel" && find . -name '*.ko' | sed 's|^\./||; s|\.ko$||' |
    awk '{b = $0; sub(/.*\//, "", b); gsub(/-/, "_", b); print b, $0}') > "$root/lib/modules/index"
  # The package has no modules.dep: each module names what it needs in its .modinfo
  # section ("depends=a,b"). Depth first, so that every module comes after those.
  _kernel_module() {
    local path=$modroot/kernel/$1.ko dep name
    [ -f "$path" ] || kernel_skip "module $1 absent de $kpkg"
    name=$(basename "$path")
    grep -qx "$name" "$root/lib/modules/order" && return
    for dep in $(objcopy -O binary --only-section=.modinfo "$path" /dev/stdout | tr '\0' '\n' |
      sed -n 's/^depends=//p' | tr ',' ' '); do
      dep=$(awk -v n="$dep" '$1 == n && !found {print $2; found = 1}' "$root/lib/modules/index")
      [ -n "$dep" ] && _kernel_module "$dep"
    done
    cp "$path" "$root/lib/modules/"
    echo "$name" >> "$root/lib/modules/order"
  }
  for m in "$@"; do _kernel_module "$m"; done
  rm "$root/lib/modules/index"
}

kernel_cpio() { # dir file
  (cd "$1" && find . | "$busybox" cpio -o -H newc 2> /dev/null) > "$2"
}
