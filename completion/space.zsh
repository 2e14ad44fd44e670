#compdef space
# Zsh completion for space: the option letters with what each does, also
# after other letters in the same argument (-hb<Tab> offers -hbC, -hbf,
# ...), the -c forms, and directories for the start path.
#
# -? is not offered: unquoted, the shell may expand it as a file pattern.

local -a letters=(
  'b:add the bytes column: the sum of the file sizes'
  'C:commas between groups of three digits, wider columns'
  'f:a row for every file too'
  'g:add the gap column: amounts minus bytes'
  'h:column titles and a line of dashes above the rows'
  'n:add the files column: the number of files'
  'p:change into the start directory first; rows read ./...'
  's:add the amounts column: clusters times the cluster size'
  't:rows only for the first level below the start directory'
  'k:clusters of 1024 bytes, as -c1024'
) forms=(
  "#:clusters of the measured file system's own size"
  ".:clusters of the current directory's file system"
  "@:clusters of the current directory's file system, as -c."
  '0:count bytes, not clusters'
  '512:clusters of 512 bytes'
  '1024:clusters of 1024 bytes'
  '4096:clusters of 4096 bytes'
  '8192:clusters of 8192 bytes'
  '65536:clusters of 65536 bytes'
) offers
local entry

if [[ $PREFIX =~ '^-[bCfghnpstk]*c' ]]; then
  offers=("$MATCH"${^forms})
  _describe -t cluster-sizes 'cluster size' offers
elif [[ $PREFIX =~ '^-[bCfghnpstk]*$' ]]; then
  # A letter given twice cancels itself: only those not given yet.
  for entry in $letters; do
    [[ $PREFIX == *${entry%%:*}* ]] || offers+=("$PREFIX$entry")
  done
  offers+=("${PREFIX}c"${^forms[1,4]})
  _describe -t options 'option' offers
elif [[ $PREFIX != -* ]]; then
  _files -/
fi
