#!/bin/busybox sh
# First process of the test virtual machine: loads the parallel-port drivers, runs
# Evtrak in the situations a user meets and prints one line per check:
#   RESULT PASS|FAIL name: detail
# then "END" and powers off. Ports: 0x278 is loaded first so the kernel numbers it
# parport0 and 0x378 parport1, the opposite of the usual order.
/bin/busybox --install -s /bin
export PATH=/bin LC_ALL=C.UTF-8 HOME=/tmp
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
mount -t tmpfs tmp /tmp
echo 3 > /proc/sys/kernel/printk

M=/lib/modules
insmod $M/parport.ko
insmod $M/parport_pc.ko io=0x278,0x378
insmod $M/ppdev.ko
sleep 1
# Group lp (7) may use the port devices, as on Debian.
chgrp 7 /dev/parport*
chmod 660 /dev/parport*

LPT1_DEV=/dev/parport1 # 0x378
LPT2_DEV=/dev/parport0 # 0x278
FAILED=0

result() { # PASS|FAIL name detail
    [ "$1" = PASS ] || FAILED=$((FAILED + 1))
    echo "RESULT $1 $2: $3"
}
check() { # name detail command...
    local name=$1 detail=$2
    shift 2
    if "$@"; then result PASS "$name" "$detail"; else result FAIL "$name" "$detail"; fi
}

# A run directory with the program and its settings file: selection $2, every input
# reading inactive at rest (the idle port reads data 0xFF and status 0xD8).
prepare() { # name selection
    local d=/t/$1
    mkdir -p "$d"
    cp /opt/evtrak/evtrak "$d/"
    {
        echo "[UserPrefs]"
        echo "PortBaseAddressIndex=$2"
        echo "CaptureSaveEdge=1"
        echo "LogSaveAutoOnExit=0"
        for i in 0 1 2 3 4 5 6 7 8 9 10 11 12; do
            echo "LogEvent${i}Active=1"
            echo "LogEvent${i}MinDuration=0"
            case $i in 8 | 10) echo "LogEvent${i}Invert=0" ;; *) echo "LogEvent${i}Invert=1" ;; esac
        done
    } > "$d/evtrak.ini"
    chmod -R 777 "$d"
    echo "$d"
}

# Starts Evtrak headless in the background: start name selection [prefix command...]
start() {
    local d
    d=$(prepare "$1" "$2")
    shift 2
    "$@" "$d/evtrak" --headless > "$d/out" 2> "$d/err" &
    PID=$!
    # Running once it says so (or gone).
    i=0
    while [ $i -lt 100 ] && kill -0 $PID 2> /dev/null && ! grep -q "Acquisition en cours" "$d/err"; do
        sleep 0.1
        i=$((i + 1))
    done
}
stop() { # stops the last started run; STATUS gets its exit status
    kill -TERM $PID 2> /dev/null
    wait $PID
    STATUS=$?
}
# Runs Evtrak headless in the foreground for at most 20 s: once name selection [prefix...]
once() {
    local d p
    d=$(prepare "$1" "$2")
    shift 2
    timeout -s KILL 20 "$@" "$d/evtrak" --headless > "$d/out" 2> "$d/err" < /dev/null &
    p=$!
    sleep 3
    kill -TERM $p 2> /dev/null
    wait $p
    STATUS=$?
}
first_line() { head -n 1 "/t/$1/err"; }
# The input numbers of the recorded events, sorted and joined: "1 3 4 6".
inputs() { cut -d';' -f2 "/t/$1/out" | sort -n -u | tr '\n' ' ' | sed 's/ $//'; }
has() { grep -q "$2" "/t/$1/err"; }

# --- Which access each user gets --------------------------------------------------
once root 4
check backend-root "$(first_line root)" has root "instructions d'entrée-sortie directes (ioperm), $LPT1_DEV réservé"

once norawio 4 /bin/probe norawio
check backend-root-without-rawio "$(first_line norawio)" has norawio "$LPT1_DEV (pilote ppdev"

once outside 4 /bin/probe as 1000 1000
check backend-user-outside-lp "$(first_line outside); status $STATUS" \
    sh -c "grep -q 'groupe lp' /t/outside/err && grep -q 'Accès au port sélectionné impossible' /t/outside/err && [ $STATUS = 2 ]"

once inside 4 /bin/probe as 1001 1001,7
check backend-user-in-lp "$(first_line inside)" has inside "$LPT1_DEV (pilote ppdev"

once lpt2 5 /bin/probe norawio
check lpt2-device-of-0x278 "$(first_line lpt2)" has lpt2 "$LPT2_DEV (pilote ppdev"

# --- Exclusive claim ----------------------------------------------------------------
start holder 4 /bin/probe norawio
once second 4
second=$STATUS
stop
check claim-vs-second-instance "$(first_line second); status $second" \
    sh -c "[ $second = 2 ] && grep -q 'un autre programme' /t/second/err && ! grep -q ioperm /t/second/err && \
           grep -q 'Accès au port sélectionné impossible' /t/second/err"

insmod $M/lp.ko
once withlp 4
check claim-vs-lp-driver "$(first_line withlp); status $STATUS" \
    sh -c "[ $STATUS = 2 ] && grep -q 'autre pilote (lp' /t/withlp/err && ! grep -q ioperm /t/withlp/err && \
           grep -q 'Accès au port sélectionné impossible' /t/withlp/err"
rmmod lp

# --- Inputs produced by racing writes ----------------------------------------------
race() { # name prefix... : status race then data race, one run each
    local n=$1 got ctl claim active
    shift
    start "$n-status" 4 "$@"
    probe race-status 0x378 2 > /dev/null
    stop
    got=$(inputs "$n-status")
    check "$n-status-lines" "events on inputs [$got], expected [8]" [ "$got" = "8" ]
    start "$n-data" 4 "$@"
    probe race-data 0x378 0xA5 2 > /dev/null
    stop
    got=$(inputs "$n-data")
    check "$n-data-lines" "events on inputs [$got], expected [1 3 4 6]" [ "$got" = "1 3 4 6" ]
    ctl=$(probe control 0x378)
    claim=$(probe claim $LPT1_DEV)
    active=$(cat /proc/sys/dev/parport/parport1/devices/active)
    check "$n-released-at-exit" "claim after exit: $claim, active: $active, control $ctl" \
        sh -c "[ '$claim' = ok ] && [ '$active' = none ] && [ \$(( $ctl & 0x20 )) = 0 ]"
}
race direct
race ppdev /bin/probe norawio

# --- Passes per second against a bare loop of the same requests --------------------
# Short rounds, one after the other in alternating order: the emulation's speed drifts
# with the host's load, and two neighbours share most of it. (Run side by side on the
# two ports, they would measure the emulator's lock instead.)
evtrak_rate() {
    start "rate$1" 4 env EVTRAK_PASS_RATE=1 /bin/probe norawio
    sleep 2
    stop
    sed -n 's/^passes\/s \([0-9]*\).*/\1/p' "/t/rate$1/err"
}
bare_rate() { probe bench $LPT1_DEV 2 | sed -n 's/^passes\/s //p'; }
for round in 1 2 3 4 5 6 7 8; do
    if [ $((round % 2)) = 1 ]; then
        e=$(evtrak_rate $round)
        b=$(bare_rate)
    else
        b=$(bare_rate)
        e=$(evtrak_rate $round)
    fi
    echo "RATE round $round evtrak $e bare $b"
done

echo "END $FAILED failed"
sync
poweroff -f
