# Bash completion for space: the option letters, also after other letters
# in the same argument (-hb<Tab> offers -hbC, -hbf, ...), the -c forms, and
# directories for the start path.
#
# -? is not offered: unquoted, the shell may expand it as a file pattern.

_space() {
  local cur=${COMP_WORDS[COMP_CWORD]}
  local letter words=()
  if [[ $cur =~ ^-[bCfghnpstk]*c ]]; then
    words=("${BASH_REMATCH[0]}"{'#',.,@,0,512,1024,4096,8192,65536})
  elif [[ $cur =~ ^-[bCfghnpstk]*$ ]]; then
    # A letter given twice cancels itself: only those not given yet.
    for letter in b C f g h n p s t k; do
      [[ $cur == *$letter* ]] || words+=("$cur$letter")
    done
    words+=("${cur}c"{'#',.,@,0})
  elif [[ $cur != -* ]]; then
    compopt -o filenames 2>/dev/null
    mapfile -t COMPREPLY < <(compgen -d -- "$cur")
    return
  fi
  mapfile -t COMPREPLY < <(compgen -W "${words[*]}" -- "$cur")
}

complete -F _space space
