# The settings page, its colour buttons and the management of the books, offscreen.
foreach(name qcolorbutton usetting)
    quorvane_test(tst_${name} SOURCES tst_${name}.cpp LIBS quorvane_app quorvane_testkit_widgets LABELS datamgmt)
endforeach()
