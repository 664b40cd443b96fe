#!/usr/bin/env bash
# Sources korvane-ctl's bash completion and checks what it offers on a few command lines.
# Run as: check_completion.sh <completion file>
set -u
# shellcheck source=/dev/null
source "$1"
failed=0

# complete_line LINE: COMPREPLY for the last word of LINE (a trailing space starts a new one).
complete_line()
{
    read -r -a COMP_WORDS <<<"$1"
    [[ $1 == *" " ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    _korvane_ctl
}

expect()
{
    local line=$1 want=$2
    complete_line "$line"
    local got
    got=$(printf '%s\n' "${COMPREPLY[@]}" | sort | xargs)
    if [[ $got != "$want" ]]; then
        echo "FAIL '$line': got '$got', want '$want'"
        failed=1
    fi
}

expect "korvane-ctl " "ack alarms calibrate help identify lease meas reset scan set shelve status unshelve"
expect "korvane-ctl --host 192.0.2.10 s" "scan set shelve status"
expect "korvane-ctl --host 192.0.2.10 set " "gain linearity max-cell-temp max-driver-temp max-power rf"
expect "korvane-ctl --serial /dev/ttyACM0 set gain " "A B C"
expect "korvane-ctl --host h set rf o" "off on"
expect "korvane-ctl --host h set max-power " ""
expect "korvane-ctl --host h calibrate " "A B C"
expect "korvane-ctl --host h meas --w" "--watch"
expect "korvane-ctl help m" "meas"
expect "korvane-ctl --host h --tls-ca ca.pem --tls st" "status"
expect "korvane-ctl --host h status --tls-" "--tls-ca --tls-cert --tls-key"
expect "korvane-ctl --host h ack " "all cell1_temperature cell2_temperature driver_temperature fault link power_a power_b power_c"
expect "korvane-ctl --host h shelve power_" "power_a power_b power_c"
expect "korvane-ctl --host h shelve power_a --" "--for --help --host --lease --port --reason --timeout --tls --tls-ca --tls-cert --tls-key --until-clear --version"
expect "korvane-ctl --host h lease " "break release renew show take"
expect "korvane-ctl --host h lease take --n" "--note"
expect "korvane-ctl --host h --lease abc lease re" "release renew"
expect "korvane-ctl --host h --lease abc set " "gain linearity max-cell-temp max-driver-temp max-power rf"

# Serial paths: every offer is a /dev/tty* device that exists.
complete_line "korvane-ctl --serial /dev/tty"
for path in "${COMPREPLY[@]}"; do
    if [[ $path != /dev/tty* || ! -e $path ]]; then
        echo "FAIL --serial offered '$path'"
        failed=1
    fi
done
if [[ -e /dev/tty && ${#COMPREPLY[@]} -eq 0 ]]; then
    echo "FAIL --serial offered nothing"
    failed=1
fi

[[ $failed == 0 ]] && echo "completion offers what was expected"
exit $failed
