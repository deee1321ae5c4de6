# The bill list: its day-grouped model and its page with filters, search and paging, offscreen.
foreach(name mbillmodel wbilllist)
    quorvane_test(tst_${name} SOURCES tst_${name}.cpp billlistfixture.cpp billlistfixture.h
        LIBS quorvane_app quorvane_testkit_widgets LABELS bills)
endforeach()
