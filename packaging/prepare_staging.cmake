# Runs inside CPack once the files are staged, before they are packed, to do what Debian policy
# asks of a package that a plain `cmake --install` need not do: manual pages and the changelog
# compressed with gzip -9n (best compression, no name or time stamp, so builds repeat), and
# programs and the LV2 plugin stripped of the comment and note sections that a plain strip leaves in.
file(GLOB_RECURSE staged "${CPACK_TEMPORARY_DIRECTORY}/*")

set(documents ${staged})
list(FILTER documents INCLUDE REGEX "/share/(man/man1/[^/]+\\.1|doc/lumivox/changelog)$")
list(LENGTH documents document_count)
if(NOT document_count EQUAL 3)
    message(FATAL_ERROR "prepare_staging: expected two manual pages and a changelog, found: ${documents}")
endif()
foreach(document IN LISTS documents)
    execute_process(COMMAND gzip -9nf "${document}" RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "prepare_staging: gzip failed on ${document}")
    endif()
endforeach()

set(programs ${staged})
list(FILTER programs INCLUDE REGEX "/bin/[^/]+$|/lib/lv2/[^/]+\\.lv2/[^/]+\\.so$")
foreach(program IN LISTS programs)
    execute_process(COMMAND strip --remove-section=.comment --remove-section=.note
        --strip-unneeded "${program}" RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "prepare_staging: strip failed on ${program}")
    endif()
endforeach()
