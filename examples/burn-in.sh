#!/bin/sh
# Runs a waveform on the QX5200 with a run log, then fails when the load board was ever over
# temperature. Usage: burn-in.sh WAVEFORM [LOG.csv]
# QX5200_CTL names the program (default qx5200-ctl); QX5200_CTL_OPTIONS adds options to every
# call, e.g. "--simulate" or "--device /dev/hidraw3".
set -eu
ctl="${QX5200_CTL:-qx5200-ctl} ${QX5200_CTL_OPTIONS:-}"
wave=$1
log=${2:-burn-in.csv}

# qx5200-ctl appends to a log; this script wants only this run's rows.
rm -f "$log"
$ctl run --repeat 3 --log "$log" --interval 100 "$wave" || {
  status=$?
  echo "burn-in: qx5200-ctl ended with status $status" >&2
  exit "$status"
}

# Columns: time,seconds,running,sensor_value,sensor_units,temperature,over_temperature,board_present
rows=$(awk -F, 'NR > 1' "$log" | wc -l)
hot=$(awk -F, 'NR > 1 && $7 == 1' "$log" | wc -l)
max_temp=$(awk -F, 'NR > 1 && $6 > m { m = $6 } END { print m + 0 }' "$log")
echo "burn-in: $rows rows, highest temperature $max_temp C, over temperature in $hot"
[ "$rows" -gt 0 ] && [ "$hot" -eq 0 ]
