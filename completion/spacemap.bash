# Bash completion for spacemap: its options, files for the options that
# name a file, and directories for the start path.

_spacemap() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}
  case $prev in
    -o | --output | -f | --file | --exclude-from | --diff | --html)
      compopt -o filenames 2>/dev/null
      mapfile -t COMPREPLY < <(compgen -f -- "$cur")
      return
      ;;
    -d | --max-depth | --top | --cluster-size | --exclude | --largest) return ;;
    --older-than | --newer-than)
      mapfile -t COMPREPLY < <(compgen -W '1d 7d 30d 90d 6m 1y 2y' -- "$cur")
      return
      ;;
  esac
  if [[ $cur == -* ]]; then
    mapfile -t COMPREPLY < <(compgen -W '-d --max-depth --top --si -b --bytes -x --one-file-system
      --exclude --exclude-from --exclude-caches --exclude-hidden -l --count-links --apparent-size --cluster-size
      -o --output --compress -f --file --diff --html -e --extended --largest --types --older-than --newer-than --time
      -i --interactive
      -h --help -V --version' -- "$cur")
    return
  fi
  compopt -o filenames 2>/dev/null
  mapfile -t COMPREPLY < <(compgen -d -- "$cur")
}

complete -F _spacemap spacemap
