# The reference list pages and their models, offscreen on fresh books.
foreach(name listmodels recordlistpages categorypage)
    quorvane_test(tst_${name} SOURCES pages/tst_${name}.cpp LIBS quorvane_lists quorvane_data quorvane_testkit_widgets
        LABELS lists)
endforeach()
quorvane_test(tst_listpagesinuse SOURCES pages/tst_listpagesinuse.cpp LIBS quorvane_shell quorvane_testkit_widgets
    LABELS lists)
