# Fish completion for spacemap: its options, files for the options that
# name a file, and directories for the start path.

complete -c spacemap -f -a '(__fish_complete_directories (commandline -ct) "")'
complete -c spacemap -s d -l max-depth -x -d 'levels shown below the start'
complete -c spacemap -l top -x -d 'entries shown per directory'
complete -c spacemap -l si -d 'powers of 1000'
complete -c spacemap -s b -l bytes -d 'sizes in bytes'
complete -c spacemap -s x -l one-file-system -d "stay on the start's file system"
complete -c spacemap -l exclude -x -d 'leave out names matching a pattern'
complete -c spacemap -l exclude-from -r -F -d 'patterns to leave out, from a file'
complete -c spacemap -s l -l count-links -d 'count every name of a file'
complete -c spacemap -l apparent-size -d 'apparent sizes, not space on disk'
complete -c spacemap -l cluster-size -x -d 'count files in clusters of this size'
complete -c spacemap -s o -l output -r -F -d 'write the scan as a JSON export'
complete -c spacemap -s f -l file -r -F -d 'read a JSON export instead of walking'
complete -c spacemap -l diff -r -F -d 'compare two scans'
complete -c spacemap -l html -r -F -d 'write the scan as a treemap page'
complete -c spacemap -s i -l interactive -d 'browse the scan on the terminal'
complete -c spacemap -s h -l help -d 'show the options'
complete -c spacemap -s V -l version -d 'show the version'
