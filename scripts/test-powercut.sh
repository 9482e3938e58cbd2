#!/usr/bin/env bash
# Power cuts on a real kernel: boots Debian's kernel under QEMU (software emulation) on a
# virtio disk holding an ext4 file system with the program, its evtrak.ini and its Log
# folder. In each boot the program first takes over what the previous boot left and is
# stopped with SIGTERM, then captures headless on a port file while a helper flips the
# data inputs and writes every change to the serial console before making it. The host
# notes when each console line arrives and pulls the power (SIGKILL to QEMU) at a random
# moment: during the capture, during the save at exit, or during the take-over of the
# journal; the saving options change from cut to cut. A last boot takes over and stops,
# and the day files are read from the disk image with debugfs. Every day file and backup
# must parse after every cut and after every take-over, no event may be doubled, and no
# change whose console line reached the host more than a second before the cut may be
# missing. Prints "coupures: N, perdus: L, doublés: D"; exits 1 when L or D is not 0, a
# file does not parse or a boot fails; 0 with "SKIP" when QEMU, the kernel or e2fsprogs
# can't be had.
#
#   scripts/test-powercut.sh          uses build/src/evtrak (built when missing)
#   EVTRAK_POWERCUT_CUTS=n            number of cuts (default 20)
#   EVTRAK_POWERCUT_SEED=n            replays the random choices of an earlier run
#   EVTRAK_POWERCUT_KEEP=dir          keeps the console logs and the disk image there
#   EVTRAK_BUILD_DIR, EVTRAK_KERNEL_CACHE   as for scripts/test-kernel.sh
set -euo pipefail
cd "$(dirname "$0")/.."
build=${EVTRAK_BUILD_DIR:-build}
cache=${EVTRAK_KERNEL_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/evtrak-test-kernel}
cuts=${EVTRAK_POWERCUT_CUTS:-20}
seed=${EVTRAK_POWERCUT_SEED:-$(($(date +%s) % 1000000))}
keep=${EVTRAK_POWERCUT_KEEP:-}
boot_limit=240 # seconds a boot may take before it counts as failed

kernel_test=test-powercut
PATH=$PATH:/usr/sbin:/sbin # mkfs.ext4 and debugfs, also for a user without them in PATH
# shellcheck source=scripts/kernel-common.sh
. scripts/kernel-common.sh
if ! command -v mkfs.ext4 > /dev/null || ! command -v debugfs > /dev/null; then
  kernel_skip "mkfs.ext4 ou debugfs absent (paquet e2fsprogs)"
fi
kernel_setup
kernel_program
# The kernel unpacked once: under emulation, unpacking the compressed image costs seconds
# at every boot. QEMU starts the ELF image through its PVH entry.
vmlinux=$cache/$kpkg/vmlinux
if [ ! -s "$vmlinux" ]; then
  offset=$(LC_ALL=C grep -obUaP '\xfd7zXZ\x00' "$vmlinuz" | awk -F: 'NR == 1 {print $1}')
  if [ -n "$offset" ] &&
    xz -dc --single-stream < <(tail -c +$((offset + 1)) "$vmlinuz") > "$vmlinux.new" 2> /dev/null &&
    [ "$(head -c 4 "$vmlinux.new" | od -An -tx1 | tr -d ' ')" = 7f454c46 ]; then
    mv "$vmlinux.new" "$vmlinux"
  else
    rm -f "$vmlinux.new"
    vmlinux=$vmlinuz
  fi
fi

work=$(mktemp -d)
qpid=""
finish() {
  [ -z "$qpid" ] || kill -KILL "$qpid" 2> /dev/null || true
  if [ -n "$keep" ]; then
    mkdir -p "$keep"
    cp -r "$work"/boot-*.log "$work"/log "$work"/disk.img "$work"/changes "$work"/events \
      "$work"/bad "$keep/" 2> /dev/null || true
  fi
  rm -rf "$work"
}
trap finish EXIT
root=$work/root
kernel_root "$root" tests/kernel/powercut-init.sh
kernel_modules "$root" drivers/virtio/virtio_pci drivers/block/virtio_blk crypto/crc32c_generic \
  fs/ext4/ext4
gcc -static -O2 -o "$root/bin/changer" tests/kernel/changer.c
cp tests/kernel/eventfile-check.awk "$root/lib/"
# The program lives on the disk, so that its folder, where it finds evtrak.ini and
# makes Log, is on the file system that loses power. Its libraries go there too: read
# from the disk as needed, they no longer make every boot unpack 80 MB.
mkdir -p "$work/fs/evtrak/Log" "$work/fs/lib"
mv "$root/opt/evtrak/evtrak" "$work/fs/evtrak/"
libdirs=("$root/lib")
[ -d "$root/usr" ] && libdirs+=("$root/usr")
find "${libdirs[@]}" -name '*.so*' -type f -exec mv {} "$work/fs/lib/" \;
kernel_cpio "$root" "$work/initrd.cpio"
disk=$work/disk.img
mkfs.ext4 -q -F -E root_owner=0:0 -d "$work/fs" "$disk" 256M > /dev/null

RANDOM=$seed
echo "Coupures de courant sous QEMU : $cuts coupures, graine $seed (EVTRAK_POWERCUT_SEED)"

us() { echo "${EPOCHREALTIME/./}"; } # host clock in microseconds
# picked := a random number of microseconds in [lo, hi] milliseconds. (Not through $(...):
# a subshell draws from a generator of its own, and the seed would no longer replay.)
pick() { picked=$((($1 + (RANDOM * 32768 + RANDOM) % ($2 - $1 + 1)) * 1000)); }

# Learnt from the boots as they go: from QEMU's start to the capture, and how long the
# take-over and the save at exit last, so that the cuts fall inside them.
to_capture=25000000 recover_len=3000000 stop_len=1000000
# The guest's clock: starts at the host's time and moves on by each boot's length; the
# cuts with the daily file jump to a few seconds before the next midnight.
vclock=$(date +%s)
failures=0

# boot n save stop_ms last kind: one boot, its console in $work/boot-n.log as
# "microseconds line", with "KILL microseconds" when the host cut the power.
boot() {
  local n=$1 save=$2 stop=$3 last=$4 kind=$5 delay=0 log=$work/boot-$1.log
  local started now deadline="" limit line partial="" t t_recover=0 t_stop=0 fd rc
  local guest_seed=$RANDOM
  case $kind in
    capture) pick 300 4000 && delay=$picked ;;
    recover) delay=$(((RANDOM % 1000 + 1) * recover_len * 13 / 10000)) ;;
    exit) delay=$(((RANDOM % 1000 + 1) * stop_len * 13 / 10000)) ;;
  esac
  if [ "$save" = 2 ] && [ "$last" = 0 ]; then
    # Midnight falls after the capture has started and before the cut.
    local midnight=$(((vclock / 86400 + 1) * 86400))
    local into=1
    [ "$kind" = capture ] && into=$((delay / 1000000))
    local target=$((midnight - to_capture / 1000000 - RANDOM % (into + 1)))
    # The clock never goes back.
    [ "$target" -le "$vclock" ] && target=$((target + 86400))
    vclock=$target
  fi
  started=$(us)
  exec {fd}< <(exec qemu-system-x86_64 -nodefaults -no-user-config -machine pc \
    -accel tcg,thread=multi -smp 2 -m 768 -display none -no-reboot \
    -rtc base="$(date -u -d "@$vclock" +%Y-%m-%dT%H:%M:%S)" \
    -kernel "$vmlinux" -initrd "$work/initrd.cpio" \
    -append "console=ttyS0 panic=-1 quiet loglevel=3 pc_boot=$n pc_seed=$guest_seed pc_save=$save pc_stop=$stop pc_last=$last" \
    -drive file="$disk",format=raw,if=none,id=disk,cache=writeback \
    -device virtio-blk-pci,drive=disk \
    -serial stdio < /dev/null 2>&1)
  # cache=writeback: the guest sees a disk with a volatile write cache, so ext4 and the
  # program's fsync send flushes as they would to a real drive. What SIGKILL to QEMU
  # loses is what a cut loses in the machine: the page cache, the journal's uncommitted
  # transactions and the requests in flight. What QEMU has already written stays in the
  # host's page cache; that is the drive whose own cache has reached the platters.
  qpid=$!
  limit=$((started + boot_limit * 1000000))
  exec 3>> "$log"
  echo "START $started" >&3
  while :; do
    now=$(us)
    local until=$limit
    [ -n "$deadline" ] && [ "$deadline" -lt "$until" ] && until=$deadline
    if [ "$now" -ge "$until" ]; then
      echo "KILL $now" >&3
      kill -KILL "$qpid" 2> /dev/null || true
      [ -n "$deadline" ] && [ "$deadline" -le "$now" ] || echo "TIMEOUT" >&3
      # Lines still in the pipe came before the cut; their moment is unknown, so they
      # count as made at the cut.
      while IFS= read -r -u "$fd" line; do
        echo "$now $partial${line%$'\r'}" >&3
        partial=""
      done
      break
    fi
    local wait=$((until - now))
    if IFS= read -r -t "$((wait / 1000000)).$(printf %06d $((wait % 1000000)))" -u "$fd" line; then
      t=$(us)
      line=$partial${line%$'\r'}
      partial=""
      echo "$t $line" >&3
      case $line in
        CAPTURE)
          to_capture=$((t - started))
          [ "$kind" = capture ] && deadline=$((t + delay))
          ;;
        RECOVER)
          t_recover=$t
          [ "$kind" = recover ] && deadline=$((t + delay))
          ;;
        RECOVERED*) recover_len=$((t - t_recover)) ;;
        STOP)
          t_stop=$t
          [ "$kind" = exit ] && deadline=$((t + delay))
          ;;
        STOPPED*) stop_len=$((t - t_stop)) ;;
      esac
    else
      rc=$?
      # Timed out, maybe within a line: what came of it is kept for the next read.
      [ $rc -gt 128 ] && partial+=$line && continue
      break                       # QEMU has ended
    fi
  done
  exec 3>&-
  exec {fd}<&-
  wait "$qpid" 2> /dev/null || true
  qpid=""
  vclock=$((vclock + ($(us) - started) / 1000000 + 1))
  if [ "$last" = 1 ]; then
    grep -q '^[0-9]* END$' "$log" || { echo "boot $n : pas de fin propre" && return 1; }
  else
    grep -q '^TIMEOUT$\|^KILL' "$log" || { echo "boot $n : arrêt inattendu" && return 1; }
  fi
  if grep -q '^TIMEOUT$\|^[0-9]* FAIL' "$log"; then
    echo "boot $n : échec ($kind)"
    return 1
  fi
  return 0
}

started=$(date +%s)
kinds=(capture exit capture recover)
for ((i = 1; i <= cuts; i++)); do
  save=$((i % 4))
  kind=${kinds[$(((i + i / 4) % 4))]}
  stop=0
  [ "$kind" = exit ] && pick 300 3000 && stop=$((picked / 1000))
  boot "$i" "$save" "$stop" 0 "$kind" || failures=$((failures + 1))
  printf 'coupure %d : réglages %d, %s, %d changements\n' "$i" "$save" "$kind" \
    "$(grep -c '^[0-9]* CHG ' "$work/boot-$i.log" || true)"
done
boot $((cuts + 1)) 0 0 1 final || failures=$((failures + 1))
elapsed=$(($(date +%s) - started))

# The day files as the last boot left them, read from the image without mounting it.
mkdir -p "$work/log"
debugfs -R "rdump /evtrak/Log $work/log" "$disk" > /dev/null 2>&1 ||
  { echo "debugfs n'a pas pu lire le disque" && failures=$((failures + 1)); }

# Every change with whether it had to survive: its line reached the host more than a
# second before the cut.
for ((i = 1; i <= cuts + 1; i++)); do
  awk '$1 == "KILL" {kill = $2} $2 == "CHG" {t[++n] = $1; c[n] = $4 " " $5 " " $6}
       END {for (i = 1; i <= n; i++) print c[i], (kill != "" && t[i] < kill - 1000000) ? 1 : 0}' \
    "$work/boot-$i.log"
done > "$work/changes"
# Faults in the files, one line per file, reason and moment: "n file reason: moment".
# What a cut leaves before Evtrak starts again (a line half written, a run of zeros where
# the system had grown the file before its data reached the disk) is Evtrak's to repair:
# those are counted apart, and fail only when the recovery leaves them.
for ((i = 1; i <= cuts + 1; i++)); do
  sed -n "s/^[0-9]* BAD /$i /p" "$work/boot-$i.log"
done > "$work/seen"
grep -v ' (cut)$' "$work/seen" > "$work/bad" || true
repaired=$(grep -c ' (cut)$' "$work/seen" || true)
for f in "$work"/log/Log/*; do
  [ -f "$f" ] || continue
  nul=$(($(wc -c < "$f") - $(tr -d '\000' < "$f" | wc -c)))
  if [ "$nul" -gt 0 ]; then
    echo "0 $f 0: NUL bytes (end)"
  else
    awk -f tests/kernel/eventfile-check.awk "$f" | sed -n 's/^BAD \(.*\)/0 \1 (end)/p'
  fi
done >> "$work/bad"
# Each fault once: where it was first seen, how many lines then, and whether the files
# still had it at the end.
bad=$(awk '{
    n = $1; file = $2; sub(/.*\//, "", file); when = $NF; $1 = $2 = $3 = $NF = ""; why = $0
    gsub(/^ +| +$/, "", why); k = file ": " why
    if (!(k in first)) {
      order[++m] = k; firstboot[k] = n " " when
      first[k] = when == "(end)" ? "à la fin" : when == "(cut)" ? "après la coupure " n - 1 : \
                 "après la reprise qui suit la coupure " n - 1
    }
    if (n " " when == firstboot[k]) lines[k]++
    if (when == "(end)") still[k] = 1
  }
  END {
    for (i = 1; i <= m; i++) {
      k = order[i]
      print "illisible : " k ", " first[k] " (" lines[k] " ligne(s))" \
            (still[k] && first[k] != "à la fin" ? ", encore à la fin" : "")
    }
  }' "$work/bad")
cat "$work"/log/Log/*.txt 2> /dev/null | awk -v events=1 -f tests/kernel/eventfile-check.awk |
  awk '$1 == "EVT" {print $2, $3, $4}' | sort -k1,1n -k2,2 -k3,3n | uniq -c > "$work/events"

# An event in the files matches a change of the same input and state made in the same
# second or up to two seconds before (the capture dates it when it sees it). Earliest
# change first, those that had to survive before the others.
read -r lost doubled < <(awk '
  FNR == NR {k = $1 " " $2 " " $3; if ($4) must[k]++; else other[k]++; all[$1]++; due[$1] += $4; next}
  {
    n = $1; k0 = $2 " " $3
    files[$2] += n
    for (s = $4 - 2; s <= $4 && n > 0; s++) {
      k = k0 " " s
      m = must[k] < n ? must[k] : n; must[k] -= m; n -= m
      m = other[k] < n ? other[k] : n; other[k] -= m; n -= m
    }
    extra[$2] += n; doubled += n
  }
  END {
    for (k in must) if (must[k] > 0) {split(k, f, " "); missing[f[1]] += must[k]; lost += must[k]}
    for (i = 0; i < 13; i++)
      if (all[i] + files[i] > 0)
        printf "entrée %d : %d changements (%d dus), %d dans les fichiers, %d manquants, %d en trop\n",
               i, all[i], due[i], files[i], missing[i], extra[i] > "/dev/stderr"
    print lost + 0, doubled + 0
  }' "$work/changes" "$work/events")

[ -n "$bad" ] && sed -n 1,30p <<< "$bad"
[ "$repaired" -gt 0 ] &&
  echo "Fichiers laissés illisibles par une coupure, réparés par la reprise suivante : $repaired"
echo "Durée : ${elapsed} s pour $cuts coupures et la dernière reprise"
echo "coupures: $cuts, perdus: $lost, doublés: $doubled"
if [ "$failures" -gt 0 ] || [ -n "$bad" ] || [ "$lost" != 0 ] || [ "$doubled" != 0 ]; then
  [ "$failures" -gt 0 ] && echo "ÉCHEC : $failures démarrage(s) en échec"
  [ -n "$bad" ] && echo "ÉCHEC : $(wc -l <<< "$bad") défaut(s) dans les fichiers"
  echo "ÉCHEC du test des coupures de courant (graine $seed)"
  exit 1
fi
echo "Test des coupures de courant réussi."
