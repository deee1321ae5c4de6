# Crashes during writes, rounds of synchronisation between two books, and devices that must converge.

# Writes to a book at random through the program's classes, telling what it does; killed by the test.
qt_add_executable(quorvane-crashdriver crashdriver.cpp randomwrites.cpp randomwrites.h $<TARGET_OBJECTS:quorvane_rc_data>
    $<TARGET_OBJECTS:quorvane_rc>)
target_link_libraries(quorvane-crashdriver PRIVATE quorvane_bills quorvane_engine quorvane_data quorvane_testkit
    quorvane_service)

quorvane_test(tst_crashwrites SOURCES tst_crashwrites.cpp bookstate.cpp bookstate.h reliabilitykit.h
    ../datamgmt/kobelfixture.cpp LIBS quorvane_synctestkit quorvane_shell quorvane_data LABELS reliability)
target_include_directories(tst_crashwrites PRIVATE ../datamgmt)
target_compile_definitions(tst_crashwrites PRIVATE QUORVANE_CRASH_DRIVER="$<TARGET_FILE:quorvane-crashdriver>")
add_dependencies(tst_crashwrites quorvane-crashdriver)

# Two books and a real service through a thousand rounds, on a clock of the test's own.
find_package(SQLite3 REQUIRED)
quorvane_test(tst_syncrounds SOURCES tst_syncrounds.cpp sqliteclock.cpp sqliteclock.h randomwrites.cpp randomwrites.h
    syncrecords.cpp syncrecords.h reliabilitykit.h LIBS quorvane_synctestkit quorvane_engine quorvane_data
    quorvane_service SQLite::SQLite3 LABELS reliability)

# Three devices of one account (this process and two quorvane-sync processes) and a second account's
# large uploads, on the real clock: edits within one second, a device's clock stepped, requests at
# once and behind a large upload, the service restarted.
quorvane_test(tst_syncconvergence SOURCES tst_syncconvergence.cpp sqliteclock.cpp sqliteclock.h randomwrites.cpp
    randomwrites.h syncrecords.cpp syncrecords.h reliabilitykit.h
    LIBS quorvane_synctestkit quorvane_engine quorvane_data quorvane_service SQLite::SQLite3 LABELS reliability)
