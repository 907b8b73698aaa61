# The program's texts are written in Chinese; translations/rfcfgtool_*.ts hold the other
# languages. lrelease turns each into a .qm that is compiled into the program under :/i18n/.
#
# After new texts appear in the sources, refresh the catalogues with
#   cmake --build build --target update_translations
# and translate the new entries (Qt Linguist, or by hand in the .ts).

# Qt's tools sit in its bin directory, beside the libexec one that holds moc.
get_target_property(_rfcfgtool_moc Qt6::moc LOCATION)
get_filename_component(_rfcfgtool_qt_tools "${_rfcfgtool_moc}" DIRECTORY)
set(_rfcfgtool_qt_hints "${_rfcfgtool_qt_tools}" "${_rfcfgtool_qt_tools}/../bin")
find_program(RFCFGTOOL_LUPDATE NAMES lupdate lupdate-qt6 HINTS ${_rfcfgtool_qt_hints} REQUIRED)
find_program(RFCFGTOOL_LRELEASE NAMES lrelease lrelease-qt6 HINTS ${_rfcfgtool_qt_hints} REQUIRED)

set(RFCFGTOOL_TS_FILES ${PROJECT_SOURCE_DIR}/translations/rfcfgtool_en.ts)
# Everything that holds user-visible texts.
set(RFCFGTOOL_TRANSLATED_DIRS app ui protocol serial tools)

set(_rfcfgtool_qm_files)
foreach(ts IN LISTS RFCFGTOOL_TS_FILES)
    get_filename_component(name "${ts}" NAME_WE)
    set(qm "${CMAKE_CURRENT_BINARY_DIR}/i18n/${name}.qm")
    add_custom_command(OUTPUT "${qm}"
                       COMMAND "${RFCFGTOOL_LRELEASE}" -silent "${ts}" -qm "${qm}"
                       DEPENDS "${ts}" VERBATIM)
    list(APPEND _rfcfgtool_qm_files "${qm}")
endforeach()
set_source_files_properties(${_rfcfgtool_qm_files} PROPERTIES GENERATED TRUE)
qt_add_resources(rfcfgtool_core rfcfgtool_translations
                 PREFIX /i18n BASE "${CMAKE_CURRENT_BINARY_DIR}/i18n" FILES ${_rfcfgtool_qm_files})

# tests/translations_check.sh runs lupdate with the same options.
add_custom_target(update_translations
                  COMMAND "${RFCFGTOOL_LUPDATE}" -silent -locations none -no-obsolete
                          -source-language zh_CN -I . ${RFCFGTOOL_TRANSLATED_DIRS}
                          -ts ${RFCFGTOOL_TS_FILES}
                  WORKING_DIRECTORY "${PROJECT_SOURCE_DIR}"
                  COMMENT "Refreshing the translation catalogues from the sources" VERBATIM)
