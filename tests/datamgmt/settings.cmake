# The settings page, its colour buttons and the management of the books, offscreen.
foreach(name qcolorbutton usetting)
    quorvane_test(tst_${name} SOURCES tst_${name}.cpp LIBS quorvane_datamgmt quorvane_testkit_widgets LABELS datamgmt)
endforeach()
target_link_libraries(tst_usetting PRIVATE quorvane_shell quorvane_bills quorvane_data)

# A password set on the page, then the real program started: a library loaded into it plays the
# user at the login dialog. (A preloaded library would have to follow the sanitizer's runtime.)
if(NOT QUORVANE_SANITIZE)
    add_library(quorvane_logindriver MODULE logindriver.cpp ../widgetkit/modalanswerer.cpp)
    target_include_directories(quorvane_logindriver PRIVATE ../widgetkit)
    target_link_libraries(quorvane_logindriver PRIVATE quorvane_settings Qt6::Widgets Qt6::Test)
    quorvane_test(tst_settinglogin SOURCES tst_settinglogin.cpp LIBS quorvane_datamgmt quorvane_data
        quorvane_testkit_widgets LABELS datamgmt)
    target_compile_definitions(tst_settinglogin PRIVATE QUORVANE_EXECUTABLE="$<TARGET_FILE:quorvane>"
        QUORVANE_LOGIN_DRIVER="$<TARGET_FILE:quorvane_logindriver>")
    add_dependencies(tst_settinglogin quorvane quorvane_logindriver)
endif()
