# The bill list's commands: the page's commands, bulk changes, export and printout, offscreen.
foreach(name printhelper exporthelper dquickchange billcommands)
    quorvane_test(tst_${name} SOURCES commands/tst_${name}.cpp billlistfixture.cpp billlistfixture.h
        commands/printfixture.cpp commands/printfixture.h
        LIBS quorvane_bills quorvane_data quorvane_testkit_widgets LABELS bills)
    target_include_directories(tst_${name} PRIVATE "${CMAKE_CURRENT_SOURCE_DIR}")
endforeach()
