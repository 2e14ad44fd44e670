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
    -d | --max-depth | --top | --cluster-size | --exclude) return ;;
  esac
  if [[ $cur == -* ]]; then
    mapfile -t COMPREPLY < <(compgen -W '-d --max-depth --top --si -b --bytes -x --one-file-system
      --exclude --exclude-from -l --count-links --apparent-size --cluster-size -o --output -f --file
      --diff --html -i --interactive -h --help -V --version' -- "$cur")
    return
  fi
  compopt -o filenames 2>/dev/null
  mapfile -t COMPREPLY < <(compgen -d -- "$cur")
}

complete -F _spacemap spacemap
