#!/usr/bin/env bash
# Runs Evtrak against the real Linux parallel-port drivers: boots Debian's kernel under
# QEMU (software emulation, no KVM needed) with two emulated ISA parallel ports (0x378,
# 0x278), an initramfs holding static busybox, the parport, parport_pc, ppdev and lp
# modules, the built program with its libraries and a small static helper, and prints
# the guest's result lines. Exits 1 when a check fails or the guest does not finish in
# time, 0 with "SKIP" when QEMU or the kernel package can't be had.
#
#   scripts/test-kernel.sh            uses build/src/evtrak (built when missing)
#   EVTRAK_BUILD_DIR=dir              another build tree
#   EVTRAK_KERNEL_CACHE=dir           where the kernel and busybox are kept between runs
#   EVTRAK_KERNEL_TIMEOUT=seconds     limit for the whole guest run (default 420)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${EVTRAK_BUILD_DIR:-build}
cache=${EVTRAK_KERNEL_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/evtrak-test-kernel}
limit=${EVTRAK_KERNEL_TIMEOUT:-420}

skip() {
  echo "SKIP test-kernel : $* ; test sur noyau réel non exécuté."
  exit 0
}
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo -n"

# QEMU is installed into the system (it needs its libraries); the kernel and busybox
# are only unpacked into the cache.
if ! command -v qemu-system-x86_64 > /dev/null; then
  echo "Installation de qemu-system-x86"
  if ! $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    qemu-system-x86 > /dev/null 2>&1; then
    $SUDO env DEBIAN_FRONTEND=noninteractive apt-get update -qq > /dev/null 2>&1 || true
    $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
      qemu-system-x86 > /dev/null 2>&1 || skip "qemu-system-x86 ne peut pas être installé"
  fi
fi
command -v gcc > /dev/null || skip "gcc absent"

kpkg=$(apt-cache depends linux-image-amd64 2> /dev/null | awk '/Depends: linux-image-/ {print $2; exit}')
[ -n "$kpkg" ] || skip "paquet linux-image-amd64 inconnu d'apt"
unpacked=$cache/$kpkg
if [ ! -f "$unpacked/ready" ]; then
  echo "Téléchargement de $kpkg et busybox-static dans $cache"
  rm -rf "$unpacked"
  mkdir -p "$unpacked/deb"
  (cd "$unpacked/deb" && apt-get download "$kpkg" busybox-static > /dev/null 2>&1) ||
    skip "$kpkg ou busybox-static ne peut pas être téléchargé"
  for deb in "$unpacked"/deb/*.deb; do dpkg -x "$deb" "$unpacked/x"; done
  rm -rf "$unpacked/deb"
  touch "$unpacked/ready"
fi
kver=${kpkg#linux-image-}
vmlinuz=$unpacked/x/boot/vmlinuz-$kver
busybox=$unpacked/x/bin/busybox
moddir=$unpacked/x/lib/modules/$kver/kernel/drivers

program=$build/src/evtrak
if [ ! -x "$program" ]; then
  cmake -S . -B "$build" > /dev/null
  cmake --build "$build" -j"$(nproc)" --target evtrak
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
root=$work/root
mkdir -p "$root"/{bin,dev,proc,sys,tmp,t,opt/evtrak,lib/modules}
cp "$busybox" "$root/bin/busybox"
for m in parport/parport parport/parport_pc char/ppdev char/lp; do
  cp "$moddir/$m.ko" "$root/lib/modules/"
done
gcc -static -O2 -o "$root/bin/probe" tests/kernel/probe.c
objcopy --strip-debug "$program" "$root/opt/evtrak/evtrak"
# The program's shared libraries at the paths the dynamic loader looks at.
ldd "$program" | awk '/=> \// {print $3} /^[ \t]*\// {print $1}' | while read -r lib; do
  mkdir -p "$root$(dirname "$lib")"
  objcopy --strip-debug "$(readlink -f "$lib")" "$root$lib"
done
cp tests/kernel/guest-init.sh "$root/init"
chmod 755 "$root/init" "$root/bin/probe"
(cd "$root" && find . | "$busybox" cpio -o -H newc 2> /dev/null) > "$work/initrd.cpio"

echo "Démarrage de $kpkg sous QEMU (émulation logicielle, limite ${limit} s)"
log=$work/guest.log
start=$(date +%s)
set +e
timeout -k 10 "$limit" qemu-system-x86_64 -nodefaults -no-user-config -machine pc \
  -accel tcg,thread=multi -smp 2 -m 1024 -display none -no-reboot \
  -kernel "$vmlinuz" -initrd "$work/initrd.cpio" \
  -append "console=ttyS0 panic=-1 quiet loglevel=3" \
  -serial stdio -parallel null -parallel null < /dev/null 2>&1 | tr -d '\r' > "$log"
set -e
elapsed=$(($(date +%s) - start))

grep -E '^(RESULT|RATE) ' "$log" || true
# The bare loop's rate over Evtrak's, per round; the median of the rounds.
awk '/^RATE round/ && $5 > 0 && $7 > 0 {r[n++] = $7 / $5; e += $5; b += $7}
     END {if (n == 0) exit
          for (i = 0; i < n; i++) for (j = i + 1; j < n; j++) if (r[j] < r[i]) {t = r[i]; r[i] = r[j]; r[j] = t}
          printf "RATE ratio bare/evtrak: median %.3f over %d rounds (min %.3f, max %.3f); mean passes/s evtrak %d, bare %d\n",
                 r[int(n / 2)], n, r[0], r[n - 1], e / n, b / n}' "$log"
if ! grep -q '^END ' "$log"; then
  echo "ÉCHEC : la machine virtuelle n'a pas fini en ${elapsed} s ; fin du journal :"
  tail -n 30 "$log"
  exit 1
fi
echo "Durée de la machine virtuelle : ${elapsed} s"
if grep -q '^RESULT FAIL' "$log" || ! grep -q '^END 0 failed' "$log"; then
  echo "ÉCHEC du test sur noyau réel"
  exit 1
fi
echo "Test sur noyau réel réussi."
