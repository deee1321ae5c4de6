# The reference list pages and their models, offscreen on fresh books.
foreach(name listmodels recordlistpages categorypage listpagesinuse)
    quorvane_test(tst_${name} SOURCES pages/tst_${name}.cpp LIBS quorvane_app quorvane_testkit_widgets LABELS lists)
endforeach()
