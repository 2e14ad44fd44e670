# Fish completion for space: the option letters, the -c forms, and
# directories for the start path.
#
# -? is not offered: unquoted, the shell may expand it as a file pattern.

function __space_complete
    set -l word (commandline -ct)
    switch $word
        case '-c*'
            string join \n -- '-c#' -c. -c@ -c0 -c512 -c1024 -c4096 -c8192 -c65536
        case '-*'
            string join \n -- -b -C -f -g -h -n -p -s -t -k '-c#' -c. -c@ -c0
        case '*'
            __fish_complete_directories $word ''
    end
end

complete -c space -f -a '(__space_complete)'
