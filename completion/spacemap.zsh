#compdef spacemap
# Zsh completion for spacemap: its options, files for the options that
# name a file, and directories for the start path.

_arguments -s \
  '(-d --max-depth)'{-d,--max-depth}'[levels shown below the start]:levels' \
  '--top[entries shown per directory]:entries' \
  '(--types)--largest[the largest files of the whole scan]:files' \
  '(--largest)--types[space by kind of file]' \
  '--older-than[only files last modified longer ago]:duration (90d, 6m, 1y)' \
  '--newer-than[only files last modified more recently]:duration (90d, 6m, 1y)' \
  '--time[show the newest time of modification]' \
  '(-e --extended)'{-e,--extended}'[keep and export times, owners and modes]' \
  '--si[powers of 1000]' \
  '(-b --bytes)'{-b,--bytes}'[sizes in bytes]' \
  '(-x --one-file-system)'{-x,--one-file-system}'[stay on the start'\''s file system]' \
  '*--exclude[leave out names matching a pattern]:pattern' \
  '*--exclude-from[leave out names matching the patterns of a file]:file:_files' \
  '--exclude-caches[leave out directories with a CACHEDIR.TAG]' \
  '--exclude-hidden[leave out names starting with a dot]' \
  '(-l --count-links)'{-l,--count-links}'[count every name of a file]' \
  '--apparent-size[apparent sizes, not space on disk]' \
  '--cluster-size[count files in clusters of this size]:bytes' \
  '(-o --output)'{-o,--output}'[write the scan as a JSON export]:file:_files' \
  '--compress[compress the export with zstd]' \
  '(-f --file)'{-f,--file}'[read a JSON export instead of walking]:file:_files' \
  '--diff[compare two scans]:old:_files:new:_files' \
  '--html[write the scan as a treemap page]:file:_files' \
  '(-i --interactive)'{-i,--interactive}'[browse the scan on the terminal]' \
  '(- *)'{-h,--help}'[show the options]' \
  '(- *)'{-V,--version}'[show the version]' \
  '::path:_files -/'
