# Fish completion for spacemap: its options, files for the options that
# name a file, and directories for the start path.

complete -c spacemap -f -a '(__fish_complete_directories (commandline -ct) "")'
complete -c spacemap -s d -l max-depth -x -d 'levels shown below the start'
complete -c spacemap -l top -x -d 'entries shown per directory'
complete -c spacemap -l largest -x -d 'the largest files of the whole scan'
complete -c spacemap -l types -d 'space by kind of file'
complete -c spacemap -l older-than -x -a '30d 90d 6m 1y' -d 'only files last modified longer ago'
complete -c spacemap -l newer-than -x -a '1d 7d 30d 90d' -d 'only files last modified more recently'
complete -c spacemap -l time -d 'show the newest time of modification'
complete -c spacemap -s e -l extended -d 'keep and export times, owners and modes'
complete -c spacemap -l si -d 'powers of 1000'
complete -c spacemap -s b -l bytes -d 'sizes in bytes'
complete -c spacemap -s x -l one-file-system -d "stay on the start's file system"
complete -c spacemap -l exclude -x -d 'leave out names matching a pattern'
complete -c spacemap -l exclude-from -r -F -d 'patterns to leave out, from a file'
complete -c spacemap -l exclude-caches -d 'leave out directories with a CACHEDIR.TAG'
complete -c spacemap -l exclude-hidden -d "leave out names starting with '.'"
complete -c spacemap -s l -l count-links -d 'count every name of a file'
complete -c spacemap -l apparent-size -d 'apparent sizes, not space on disk'
complete -c spacemap -l cluster-size -x -d 'count files in clusters of this size'
complete -c spacemap -s o -l output -r -F -d 'write the scan as a JSON export'
complete -c spacemap -l compress -d 'compress the export with zstd'
complete -c spacemap -s f -l file -r -F -d 'read a JSON export instead of walking'
complete -c spacemap -l diff -r -F -d 'compare two scans'
complete -c spacemap -l html -r -F -d 'write the scan as a treemap page'
complete -c spacemap -s h -l help -d 'show the options'
complete -c spacemap -s V -l version -d 'show the version'
