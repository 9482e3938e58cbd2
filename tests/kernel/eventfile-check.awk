# Reads event files line by line (lines end in CR LF; the CR is still in $0 here) and
# prints one line per fault:
#   BAD file line: reason
# then "FILE file lines". With -v events=1, also one line per event:
#   EVT input state seconds      state 1 for [ON], 0 for [OFF], - without a suffix;
#                                seconds since 1970 of the date-time field
# Runs under busybox awk in the virtual machine and under the host's awk.
function bad(why) {
    print "BAD " FILENAME " " FNR ": " why
}
function seconds(d, t,    y, m, era, yoe, doy, days) { # dd/mm/yyyy, hh:nn:ss -> since 1970
    y = substr(d, 7, 4) + 0; m = substr(d, 4, 2) + 0
    if (m <= 2) y--
    era = int(y / 400); yoe = y - era * 400
    doy = int((153 * (m > 2 ? m - 3 : m + 9) + 2) / 5) + substr(d, 1, 2) - 1
    days = era * 146097 + yoe * 365 + int(yoe / 4) - int(yoe / 100) + doy - 719468
    return days * 86400 + substr(t, 1, 2) * 3600 + substr(t, 4, 2) * 60 + substr(t, 7, 2)
}
FNR == 1 && NR > 1 { print "FILE " previous " " lines; lines = 0 }
{
    previous = FILENAME
    lines++
    if (substr($0, length($0), 1) != "\r") { bad("no CR LF"); next }
    line = substr($0, 1, length($0) - 1)
    if (line !~ /^[^;]*;[0-9]+;[0-3][0-9]\/[01][0-9]\/[0-9][0-9][0-9][0-9] [0-2][0-9]:[0-5][0-9]:[0-5][0-9];[0-9]+( ms|\.[0-9][0-9][0-9] s)$/) {
        bad("not an event line")
        next
    }
    if (!events)
        next
    split(line, f, ";")
    split(f[3], dt, " ")
    state = f[1] ~ / \[ON\]$/ ? 1 : f[1] ~ / \[OFF\]$/ ? 0 : "-"
    print "EVT " f[2] " " state " " seconds(dt[1], dt[2])
}
END { if (NR > 0) print "FILE " previous " " lines }
