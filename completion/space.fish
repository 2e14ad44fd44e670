# Fish completion for space: the option letters with what each does, also
# after other letters in the same argument (-hb<Tab> offers -hbC, -hbf,
# ...), the -c forms, and directories for the start path.
#
# -? is not offered: unquoted, the shell may expand it as a file pattern.

function __space_letters
    printf '%s\t%s\n' \
        b 'add the bytes column: the sum of the file sizes' \
        C 'commas between groups of three digits, wider columns' \
        f 'a row for every file too' \
        g 'add the gap column: amounts minus bytes' \
        h 'column titles and a line of dashes above the rows' \
        n 'add the files column: the number of files' \
        p 'change into the start directory first; rows read ./...' \
        s 'add the amounts column: clusters times the cluster size' \
        t 'rows only for the first level below the start directory' \
        k 'clusters of 1024 bytes, as -c1024'
end

function __space_forms
    printf '%s\t%s\n' \
        '#' "clusters of the measured file system's own size" \
        . "clusters of the current directory's file system" \
        @ "clusters of the current directory's file system, as -c." \
        0 'count bytes, not clusters' \
        512 'clusters of 512 bytes' \
        1024 'clusters of 1024 bytes' \
        4096 'clusters of 4096 bytes' \
        8192 'clusters of 8192 bytes' \
        65536 'clusters of 65536 bytes'
end

function __space_complete
    set -l word (commandline -ct)
    if set -l group (string match -r -- '^-[bCfghnpstk]*c' $word)
        __space_forms | string replace -r '^' -- $group
    else if string match -qr -- '^-[bCfghnpstk]*$' $word
        # A letter given twice cancels itself: only those not given yet.
        for entry in (__space_letters)
            string match -q -- "*$(string sub -l 1 -- $entry)*" $word; or echo $word$entry
        end
        __space_forms | head -n 4 | string replace -r '^' -- {$word}c
    else if not string match -q -- '-*' $word
        __fish_complete_directories $word ''
    end
end

complete -c space -f -a '(__space_complete)'
