# cmake -DWITHOUT="program;..." -DWITH=test-executable -P releasekeyseam.cmake
# Fails when one of WITHOUT holds the function through which a test trusts a release key of its own,
# or when WITH does not (then the search proves nothing, e.g. for stripped executables).
function(holds_seam file result)
    file(STRINGS "${file}" hits REGEX "ReleaseKey[0-9]*trustForTesting" LIMIT_COUNT 1)
    if(hits)
        set(${result} TRUE PARENT_SCOPE)
    else()
        set(${result} FALSE PARENT_SCOPE)
    endif()
endfunction()

holds_seam("${WITH}" found)
if(NOT found)
    message(FATAL_ERROR "${WITH}: the test seam of the release key is not found; the check cannot tell")
endif()
foreach(program IN LISTS WITHOUT)
    holds_seam("${program}" found)
    if(found)
        message(FATAL_ERROR "${program}: can be told to trust another release key (test seam linked in)")
    endif()
    message(STATUS "${program}: trusts the configured release key alone")
endforeach()
