# Hostile text through every path a text takes, and malformed books, files and replies. The string
# table is one library that every executable shares.
add_library(quorvane_hostiletext STATIC hostiletext.cpp hostiletext.h)
target_include_directories(quorvane_hostiletext PUBLIC "${CMAKE_CURRENT_SOURCE_DIR}")
target_link_libraries(quorvane_hostiletext PUBLIC quorvane_settings Qt6::Core Qt6::Test)

quorvane_test(tst_hostiletextrecords SOURCES tst_hostiletextrecords.cpp ../datamgmt/kobelfixture.cpp
    LIBS quorvane_bills quorvane_data quorvane_hostiletext LABELS reliability)
target_include_directories(tst_hostiletextrecords PRIVATE ../datamgmt)

# Pasted into the record dialogs, within their length limits.
quorvane_test(tst_hostiletextdialogs SOURCES tst_hostiletextdialogs.cpp
    LIBS quorvane_bills quorvane_lists quorvane_data quorvane_hostiletext quorvane_testkit_widgets LABELS reliability)

find_package(Qt6 6.4 REQUIRED COMPONENTS Qml HttpServer)
quorvane_test(tst_hostiletextpages SOURCES tst_hostiletextpages.cpp
    LIBS quorvane_analysisbook quorvane_analysis quorvane_bills quorvane_widgets quorvane_data quorvane_hostiletext Qt6::Qml
    LABELS reliability)
target_include_directories(tst_hostiletextpages PRIVATE ../analysis)

# Through a real quorvane-service: the upload and the reply (QTEST_MAIN runs it in a QApplication).
quorvane_test(tst_hostiletextsync SOURCES tst_hostiletextsync.cpp
    LIBS quorvane_synctestkit quorvane_data quorvane_service quorvane_hostiletext Qt6::Widgets LABELS reliability)

# In a real web view (label "webengine": see quorvane_test for the sanitizer run).
quorvane_test(tst_hostiletextweb SOURCES tst_hostiletextweb.cpp
    LIBS quorvane_analysisbook quorvane_webtesting quorvane_analysis quorvane_hostiletext quorvane_testkit_widgets
    LABELS "reliability;webengine")
if(TARGET tst_hostiletextweb)
    target_include_directories(tst_hostiletextweb PRIVATE ../analysis)
endif()

# Malformed books, data files, settings, bills and server replies.
quorvane_test(tst_malformedbooks SOURCES tst_malformedbooks.cpp ../datamgmt/kobelfixture.cpp
    LIBS quorvane_shell quorvane_data quorvane_testkit_widgets LABELS reliability)
target_include_directories(tst_malformedbooks PRIVATE ../datamgmt)
quorvane_test(tst_malformedbills SOURCES tst_malformedbills.cpp
    LIBS quorvane_synctestkit quorvane_shell quorvane_analysis quorvane_bills quorvane_data quorvane_testkit_widgets
    LABELS reliability)
quorvane_test(tst_malformedreplies SOURCES tst_malformedreplies.cpp
    LIBS quorvane_synctestkit quorvane_sync quorvane_engine quorvane_service quorvane_testkit_widgets LABELS reliability)
quorvane_test(tst_malformedsettings SOURCES tst_malformedsettings.cpp
    LIBS quorvane_shell quorvane_datamgmt quorvane_data quorvane_testkit_widgets LABELS reliability)
