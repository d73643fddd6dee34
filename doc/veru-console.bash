# Bash completion for veru-console: its options. The argument of --do is a
# console command line of the user's own, those of --mqtt and --mqtt-topic
# the user's broker and topic, and that of --history-days a number, so
# nothing is offered there; for --timeout a few usual numbers of seconds
# are, and --history takes a file name.
_veru_console() {
  local sCurrent=${COMP_WORDS[COMP_CWORD]}
  local sPrevious=${COMP_WORDS[COMP_CWORD-1]}
  case $sPrevious in
    -d|--do|--mqtt|--mqtt-topic|--history-days) COMPREPLY=(); return 0 ;;
    -t|--timeout) COMPREPLY=($(compgen -W "10 30 60" -- "$sCurrent")); return 0 ;;
    --mqtt-discovery)
      COMPREPLY=($(compgen -W "homeassistant off" -- "$sCurrent"))
      return 0 ;;
    --history) COMPREPLY=($(compgen -f -- "$sCurrent")); return 0 ;;
  esac
  COMPREPLY=($(compgen -W "--json -j --once -1 --do -d --screen -s --timeout -t
                           --mqtt --mqtt-topic --mqtt-discovery
                           --history --no-history --history-days --help -h
                           --version -V" -- "$sCurrent"))
}
complete -F _veru_console veru-console
