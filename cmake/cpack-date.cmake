# Read by cpack before it packs: the times it gives the files and members of
# the package come from SOURCE_DATE_EPOCH, which is the date the build was
# configured with (packaging.cmake), whatever the environment of cpack says.
set(ENV{SOURCE_DATE_EPOCH} ${CPACK_SPACE_SOURCE_DATE})
