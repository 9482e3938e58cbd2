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

kernel_test=test-kernel
# shellcheck source=scripts/kernel-common.sh
. scripts/kernel-common.sh
kernel_setup
kernel_program

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
root=$work/root
kernel_root "$root" tests/kernel/guest-init.sh
mkdir -p "$root/t"
for m in parport/parport parport/parport_pc char/ppdev char/lp; do
  cp "$moddir/$m.ko" "$root/lib/modules/"
done
gcc -static -O2 -o "$root/bin/probe" tests/kernel/probe.c
chmod 755 "$root/bin/probe"
kernel_cpio "$root" "$work/initrd.cpio"

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
