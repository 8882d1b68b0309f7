# The first device-list call of a process, raced: fresh processes in a row
# beside a busy loop, each opening the configuration window at the start of
# play while the device opens. device_list_race.exe adds the player's other
# threads reading the list and slows the window thread down; the stand-in
# player runs the scenario as the end-to-end test config_device does. No run
# may crash, and Init must have built the list in every one.
#   usage: device_list_race.sh BUILD_DIR   (inside tools/testenv.sh)
# QV_DEVICE_LIST_RUNS and QV_DEVICE_LIST_PLAYER_RUNS set the number of runs of
# each (8 and 2); a longer run is a matter of raising them.
source "$(dirname "$0")/../e2e/lib.sh"

race="$BUILD/tests/devicelist/device_list_race.exe"
runs=${QV_DEVICE_LIST_RUNS:-8}
player_runs=${QV_DEVICE_LIST_PLAYER_RUNS:-2}

busy_pid=""
stop_busy() { [ -z "$busy_pid" ] || kill "$busy_pid" 2>/dev/null || true; }
trap 'stop_busy; cleanup_e2e' EXIT
sh -c 'while :; do :; done' &
busy_pid=$!

failed=0
# check KIND RUN RC OUT ERR DONE: a run passes when it ended with 0, printed
# DONE (its last words) and Wine reported no unhandled exception: a process
# that crashed may still end with 0 once Wine's debugger has had it.
check() {
    if [ "$3" -eq 0 ] && grep -q -- "$6" "$4" && ! grep -qi "unhandled" "$4" "$5"; then
        return
    fi
    failed=$((failed + 1))
    echo "FAIL: $1 run $2 ended with $3" >&2
    grep -v "^ \|^0x\|^PE\|^ELF" "$4" | head -n 20 >&2
    grep -m 5 -iE "unhandled|page fault" "$5" >&2 || tail -n 5 "$5" >&2
}

for ((i = 1; i <= runs; i++)); do
    set +e
    "$WINE" "$race" --device "$QV_DEVICE_SAME" >"$WORK/race.txt" 2>"$WORK/race.err"
    rc=$?
    set -e
    check device_list_race "$i" "$rc" "$WORK/race.txt" "$WORK/race.err" "^device_list_race: ok"
done

settings="$WORK/settings"
mkdir -p "$settings"
for ((i = 1; i <= player_runs; i++)); do
    run_player --quiet --settings-dir "$(winpath "$settings")" --device "$QV_DEVICE_SAME" \
        --tone 0.3 --config
    check standin_player "$i" "$PLAYER_RC" "$WORK/out.txt" "$WORK/err.txt" "^summary:"
done

echo "$((runs + player_runs - failed)) passed, $failed failed ($runs device_list_race, $player_runs stand-in player)"
[ "$failed" -eq 0 ]
