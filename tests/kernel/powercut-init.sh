#!/bin/busybox sh
# First process of the power-cut virtual machine. The disk /dev/vda holds an ext4 file
# system with /evtrak: the program, its evtrak.ini and its Log folder, and /lib: the
# program's libraries (the loader is in the initramfs). Every boot:
#   1. checks the Log folder as the cut left it (lines "BAD file line: reason"),
#   2. starts Evtrak, which takes over its journal, and stops it with SIGTERM
#      ("RECOVER" when it starts, "RECOVERED status" when it has ended), checks again,
#   3. unless this is the last boot: writes the settings of the next capture, starts
#      Evtrak and the changer ("CAPTURE"); with pc_stop=ms, after that long stops the
#      changer and sends SIGTERM ("STOP", then "STOPPED status"). Then it waits for the
#      host to cut the power.
# The last boot (pc_last=1) prints "END" and powers off cleanly. Parameters come on the
# kernel command line: pc_boot=n pc_seed=n pc_save=0..3 pc_stop=ms pc_last=0|1.
/bin/busybox --install -s /bin
export PATH=/bin LC_ALL=C.UTF-8 HOME=/tmp LD_LIBRARY_PATH=/mnt/lib
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
mount -t tmpfs tmp /tmp
echo 3 > /proc/sys/kernel/printk

pc_boot=0 pc_seed=1 pc_save=0 pc_stop=0 pc_last=0
for word in $(cat /proc/cmdline); do
    case $word in pc_*=*) eval "${word%%=*}=\${word#*=}" ;; esac
done
echo "BOOT $pc_boot"

for m in $(cat /lib/modules/order); do insmod "/lib/modules/$m"; done
i=0
while [ ! -b /dev/vda ] && [ $i -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
mkdir -p /mnt
if ! mount -t ext4 /dev/vda /mnt; then
    echo "FAIL mount"
    poweroff -f
fi
D=/mnt/evtrak
[ "$pc_boot" = 1 ] && grep ' /mnt ' /proc/mounts | sed 's/^/MOUNT /'

check() { # when: every day file and backup parses
    for f in "$D"/Log/*.txt "$D"/Log/*.bak; do
        [ -f "$f" ] || continue
        if [ "$(tr -d '\000' < "$f" | wc -c)" != "$(wc -c < "$f")" ]; then
            echo "BAD $f 0: NUL bytes ($1)"
        else
            awk -f /lib/eventfile-check.awk "$f" | sed -n "s/^BAD .*/& ($1)/p"
        fi
    done
}
# The port: 64 KiB of zeros with the status lines at rest; every data input low.
dd if=/dev/zero of=/tmp/port.bin bs=65536 count=1 2> /dev/null
printf '\200' | dd of=/tmp/port.bin bs=1 seek=$((0x379)) conv=notrunc 2> /dev/null

# Starts Evtrak in the background (stdout to $1, stderr to $2); PID; waits until the
# capture runs or the program has ended.
start() {
    : > "$2"
    $D/evtrak --headless --port-device /tmp/port.bin > "$1" 2> "$2" < /dev/null &
    PID=$!
    i=0
    while [ $i -lt 600 ] && kill -0 $PID 2> /dev/null && ! grep -q "Ctrl+C" "$2"; do
        sleep 0.05
        i=$((i + 1))
    done
}
stderr() { sed 's/^/ERR /' "$1"; }

check cut
echo "RECOVER"
start /tmp/recover.out /tmp/recover.err
kill -TERM $PID 2> /dev/null
wait $PID
status=$?
echo "RECOVERED $status"
stderr /tmp/recover.err
check recovered

if [ "$pc_last" = 1 ]; then
    ls -l $D/Log | sed 's/^/LS /'
    umount /mnt
    echo "END"
    poweroff -f
fi

{
    echo "[UserPrefs]"
    for i in 0 1 2 3 4 5 6 7; do echo "LogEvent${i}MinDuration=0"; done
    case $pc_save in
    1) echo "LogSaveAutoOnNewEvent=1" ;;
    2) echo "LogSaveAutoOnNewDay=1" ;;
    3) echo "LogSaveMakeBackup=1" ;;
    esac
} > $D/evtrak.ini
sync
start /dev/console /tmp/capture.err
if ! kill -0 $PID 2> /dev/null; then
    stderr /tmp/capture.err
    echo "FAIL capture"
fi
echo "CAPTURE"
changer /tmp/port.bin "$pc_seed" &
CHANGER=$!
if [ "$pc_stop" -gt 0 ]; then
    usleep $((pc_stop * 1000))
    kill $CHANGER
    wait $CHANGER
    echo "STOP"
    kill -TERM $PID
    wait $PID
    echo "STOPPED $?"
    stderr /tmp/capture.err
fi
while :; do sleep 60; done
