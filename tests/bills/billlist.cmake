# The bill list: its day-grouped model and its page with filters, search and paging, offscreen.
foreach(name mbillmodel wbilllist)
    quorvane_test(tst_${name} SOURCES tst_${name}.cpp billlistfixture.cpp billlistfixture.h
        LIBS quorvane_bills quorvane_data quorvane_testkit_widgets LABELS bills)
endforeach()
target_link_libraries(tst_wbilllist PRIVATE quorvane_shell)
