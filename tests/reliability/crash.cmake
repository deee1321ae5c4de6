# Crashes during writes, rounds of synchronisation between two books, and devices that must converge.

# Writes to a book at random through the program's classes, telling what it does; killed by the test.
qt_add_executable(quorvane-crashdriver crashdriver.cpp randomwrites.cpp randomwrites.h driverkit.cpp driverkit.h
    $<TARGET_OBJECTS:quorvane_rc_data> $<TARGET_OBJECTS:quorvane_rc>)
target_link_libraries(quorvane-crashdriver PRIVATE quorvane_bills quorvane_engine quorvane_data quorvane_testkit
    quorvane_service)

quorvane_test(tst_crashwrites SOURCES tst_crashwrites.cpp bookstate.cpp bookstate.h reliabilitykit.h
    ../datamgmt/kobelfixture.cpp LIBS quorvane_synctestkit quorvane_shell quorvane_data LABELS reliability)
target_include_directories(tst_crashwrites PRIVATE ../datamgmt)
target_compile_definitions(tst_crashwrites PRIVATE QUORVANE_CRASH_DRIVER="$<TARGET_FILE:quorvane-crashdriver>")
add_dependencies(tst_crashwrites quorvane-crashdriver)
# Its kills must fit a time bound; run beside the other tests of a sanitizer build on a busy machine,
# each life of the driver takes several times as long, and the test could no longer reach them.
set_tests_properties(tst_crashwrites PROPERTIES RUN_SERIAL TRUE)

# Works on the book files of a folder (create, rename, delete, restore, import), holds a book's lock
# as a second running program would, or leaves a write cut off; used by the tests of book files too.
qt_add_executable(quorvane-bookdriver bookdriver.cpp driverkit.cpp driverkit.h $<TARGET_OBJECTS:quorvane_rc_data>)
target_link_libraries(quorvane-bookdriver PRIVATE quorvane_data)

quorvane_test(tst_crashbooks SOURCES tst_crashbooks.cpp reliabilitykit.h ../datamgmt/kobelfixture.cpp
    LIBS quorvane_data LABELS reliability)
target_include_directories(tst_crashbooks PRIVATE ../datamgmt)
target_compile_definitions(tst_crashbooks PRIVATE QUORVANE_BOOK_DRIVER="$<TARGET_FILE:quorvane-bookdriver>")
add_dependencies(tst_crashbooks quorvane-bookdriver)

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
