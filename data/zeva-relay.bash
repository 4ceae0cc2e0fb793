# SPDX-License-Identifier: GPL-3.0-or-later
# bash completion for zeva-relay: its options, actions, channels and operations, the COM numbers
# and serial devices for --port, and files for --log.

_zeva_relay() {
    local cur prev words cword
    _init_completion || return

    # A pulse's duration follows its channel.
    if [[ $cword -ge 2 && ${words[cword - 2]} == pulse ]]; then
        return
    fi

    case $prev in
        -p | --port)
            local devices
            devices=$(compgen -G '/dev/tty[SUA]*' 2>/dev/null; compgen -G '/dev/serial/by-id/*' 2>/dev/null)
            COMPREPLY=($(compgen -W 'COM1 COM2 COM3 COM4 $devices' -- "$cur"))
            return
            ;;
        --expect)
            COMPREPLY=($(compgen -W 'echo none' -- "$cur"))
            return
            ;;
        --log)
            _filedir
            return
            ;;
        --repeat | --timeout | --at-exit)
            return
            ;;
        1 | 2)
            COMPREPLY=($(compgen -W 'on off reverse' -- "$cur"))
            return
            ;;
        all)
            COMPREPLY=($(compgen -W 'on off' -- "$cur"))
            return
            ;;
        pulse)
            COMPREPLY=($(compgen -W '1 2 all' -- "$cur"))
            return
            ;;
        wait | send)
            return
            ;;
    esac

    if [[ $cword -eq 1 && $cur != -* ]]; then
        COMPREPLY=($(compgen -W 'list 1 2 all send pulse wait' -- "$cur"))
        return
    fi
    if [[ ${words[1]} == list ]]; then
        COMPREPLY=($(compgen -W '--json' -- "$cur"))
        return
    fi
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W '--port --repeat --expect --timeout --at-exit --log --quiet
            --help --version' -- "$cur"))
        return
    fi
    COMPREPLY=($(compgen -W '1 2 all send pulse wait' -- "$cur"))
} &&
    complete -F _zeva_relay zeva-relay
