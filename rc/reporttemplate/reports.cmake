# The report pages of the analyses, :/rc/report/<name>.html, made from one skeleton: they differ
# only in their caption, their header row and (the categories') a left-aligned first column.
# Included by rc/CMakeLists.txt; adds the pages to RC_ENTRIES.
function(quorvane_report name caption headers style)
    set(REPORT_CAPTION "${caption}")
    set(REPORT_HEADERS "")
    foreach(header IN LISTS headers)
        string(APPEND REPORT_HEADERS "<th>${header}</th>")
    endforeach()
    set(REPORT_STYLE "${style}")
    configure_file("${CMAKE_CURRENT_FUNCTION_LIST_DIR}/report.html.in" "${RC_OUT}/report/${name}.html" @ONLY)
    set(RC_ENTRIES "${RC_ENTRIES}    <file alias=\"report/${name}.html\">${RC_OUT}/report/${name}.html</file>\n"
        PARENT_SCOPE)
endfunction()

quorvane_report(category "分类明细 (单位 元)" "名称;类型;次数;百分比;金额"
    "td:first-child {\n    text-align: left;\n    padding: 0 15px;\n}\n")
quorvane_report(account "账户明细 (单位 元)" "账户;类型;支出;收入;转入;转出;借出;借入;收款;还款;合计" "")
quorvane_report(borrower "借款人明细 (单位 元)" "名称;借入;借出;还款;收款;合计" "")
quorvane_report(member "成员明细 (单位 元)" "名称;支出百分比;支出;收入百分比;收入;合计百分比;合计" "")
quorvane_report(stat "账目明细 (单位 元)" "名称;支出;收入;合计" "")
