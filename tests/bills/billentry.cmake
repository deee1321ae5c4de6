# The bill dialog and its calculator pop-up, offscreen on fresh books.
foreach(name dcalculator dbill)
    quorvane_test(tst_${name} SOURCES entry/tst_${name}.cpp LIBS quorvane_bills quorvane_data quorvane_testkit_widgets
        LABELS bills)
endforeach()
