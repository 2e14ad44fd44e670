# Bash completion for space: the option letters, the -c forms, and
# directories for the start path.
#
# -? is not offered: unquoted, the shell may expand it as a file pattern.

_space() {
  local cur=${COMP_WORDS[COMP_CWORD]}
  local words
  case $cur in
    -c*) words='-c# -c. -c@ -c0 -c512 -c1024 -c4096 -c8192 -c65536' ;;
    -*) words='-b -C -f -g -h -n -p -s -t -k -c# -c. -c@ -c0' ;;
    *)
      compopt -o filenames 2>/dev/null
      mapfile -t COMPREPLY < <(compgen -d -- "$cur")
      return
      ;;
  esac
  mapfile -t COMPREPLY < <(compgen -W "$words" -- "$cur")
}

complete -F _space space
